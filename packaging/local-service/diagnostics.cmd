@echo off
rem QARDEX diagnostics, the Start menu's shortcut for the help desk: the local service's set-up
rem checks for the signed-in user, then, if asked, a support bundle on that user's Desktop.
setlocal
title QARDEX diagnostics
"%~dp0mQARDEXService.exe" --diagnose
echo.
set "answer="
set /p "answer=Write a support bundle to the Desktop? [Y/N] "
if /i not "%answer%"=="Y" goto end
rem One name whatever the date format of the machine: a later bundle replaces the earlier one.
set "bundle=%USERPROFILE%\Desktop\QARDEX-bundle.zip"
if exist "%bundle%" echo The earlier %bundle% is replaced.
"%~dp0mQARDEXService.exe" --bundle "%bundle%"
if errorlevel 1 goto failed
echo Send %bundle% to your help desk.
goto end
:failed
echo No support bundle was written.
:end
pause
