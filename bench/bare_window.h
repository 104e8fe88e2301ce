// Resource identifiers of the bare window, shared by its program and its resource script.
#pragma once

#define IDR_WINDOW_SIZE 1
