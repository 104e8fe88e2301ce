// Resource and control identifiers, shared by the program and its resource script.
#pragma once

#define IDI_APPICON 1
#define IDC_LABEL1 101
#define IDC_LABEL2 102
