@echo off
rem Test-bed stand-in for the browser-store script: notes its run and its COMSPEC beside itself and
rem ends with the code in QX_FOXTRUST_EXIT (0 when unset). With QX_FOXTRUST_SWAP set it first
rem writes that file of its folder over ZELServerCert.crt there and in cert\.
if defined QX_FOXTRUST_SWAP copy /y "%~dp0%QX_FOXTRUST_SWAP%" "%~dp0ZELServerCert.crt" >nul
if defined QX_FOXTRUST_SWAP copy /y "%~dp0%QX_FOXTRUST_SWAP%" "%~dp0cert\ZELServerCert.crt" >nul
echo ran>>"%~dp0FoxTrust.ran"
echo %COMSPEC%>"%~dp0FoxTrust.comspec"
set code=0
if defined QX_FOXTRUST_EXIT set code=%QX_FOXTRUST_EXIT%
echo FoxTrust stand-in: exit %code%
exit /b %code%
