@echo off
rem handoff @PROJECT_VERSION@: runs the tests of every build in this kit that
rem this Windows can run, prints each test's result on a line and the totals
rem last, and ends with 0 only when no test failed.

rem   run-tests.cmd                      every build: i686 and x86_64
rem   run-tests.cmd x86_64               only the builds named
rem   run-tests.cmd --require-all ...    fail, rather than skip, what cannot run

rem Run it in a console, as an ordinary user, on a desktop you are logged on
rem to. The tests open windows and press keys and click in them: leave the
rem keyboard and mouse alone until it ends. Its first line says whether it
rem runs elevated and whether this session has an interactive desktop; where
rem it has none (a service, a headless machine), the tests that need one are
rem reported as NOT RUN.
setlocal
rem The runner of the machine's own architecture, the 32-bit one elsewhere (on
rem ARM, which runs 32-bit x86 programs). For each build it first starts the
rem build's can_start.exe, which does nothing: a build whose programs this
rem Windows cannot start at all (x86_64 on 32-bit Windows or on Windows 10 on
rem ARM) is reported as not tested, and counted as skipped. --require-all
rem counts that, and each test NOT RUN for want of a desktop, as a failure.
set "runner=%~dp0i686\kit_runner.exe"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "runner=%~dp0x86_64\kit_runner.exe"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "runner=%~dp0x86_64\kit_runner.exe"
"%runner%" %*
exit /b %errorlevel%
