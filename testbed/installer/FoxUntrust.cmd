@echo off
rem Test-bed stand-in for the browser-store removal script: notes its run beside itself and
rem ends with the code in QX_FOXUNTRUST_EXIT (0 when unset).
echo ran>>"%~dp0FoxUntrust.ran"
set code=0
if defined QX_FOXUNTRUST_EXIT set code=%QX_FOXUNTRUST_EXIT%
echo FoxUntrust stand-in: exit %code%
exit /b %code%
