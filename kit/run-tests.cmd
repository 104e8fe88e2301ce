@echo off
rem handoff @PROJECT_VERSION@: runs the tests of every build in this kit that
rem this Windows can run, prints each test's result on a line and the totals
rem last, and ends with 0 only when no test failed.
rem
rem   run-tests.cmd            every build: i686 and x86_64
rem   run-tests.cmd x86_64     only the builds named
rem
rem Run it in a console, as an ordinary user. The tests open windows and press
rem keys and click in them: leave the keyboard and mouse alone until it ends.
setlocal
rem The runner of the machine's own architecture, the 32-bit one elsewhere (on
rem ARM, which runs 32-bit x86 programs). For each build it first starts the
rem build's can_start.exe, which does nothing: a build whose programs this
rem Windows cannot start at all (x86_64 on 32-bit Windows or on Windows 10 on
rem ARM) is reported as not tested, and counted as skipped.
set "runner=%~dp0i686\kit_runner.exe"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "runner=%~dp0x86_64\kit_runner.exe"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "runner=%~dp0x86_64\kit_runner.exe"
set "builds=%*"
if "%builds%"=="" set "builds=i686 x86_64"
"%runner%" %builds%
exit /b %errorlevel%
