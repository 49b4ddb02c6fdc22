@echo off
rem Registers the service ARKServer and its event source "arksvc", or
rem removes them, for arkserver.exe and eventmsg.dll in this folder.
rem   install.cmd              register (starts automatically with Windows);
rem                            then start it now with: sc start ARKServer
rem   install.cmd /uninstall   stop and remove
rem Run it from an administrators command prompt.
setlocal
set "HERE=%~dp0"
set "SOURCE=HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\arksvc"
if /i "%~1"=="/uninstall" goto uninstall
if not "%~1"=="" goto usage
if not exist "%HERE%arkserver.exe" goto missing
if not exist "%HERE%eventmsg.dll" goto missing
sc create ARKServer binPath= "\"%HERE%arkserver.exe\"" start= auto DisplayName= "ARKServer"
if errorlevel 1 goto servicefailed
reg add "%SOURCE%" /v EventMessageFile /t REG_EXPAND_SZ /d "%HERE%eventmsg.dll" /f >nul
if errorlevel 1 goto sourcefailed
reg add "%SOURCE%" /v CategoryMessageFile /t REG_EXPAND_SZ /d "%HERE%eventmsg.dll" /f >nul
if errorlevel 1 goto sourcefailed
reg add "%SOURCE%" /v CategoryCount /t REG_DWORD /d 3 /f >nul
if errorlevel 1 goto sourcefailed
reg add "%SOURCE%" /v TypesSupported /t REG_DWORD /d 7 /f >nul
if errorlevel 1 goto sourcefailed
echo ARKServer is registered. Start it with: sc start ARKServer
exit /b 0
:uninstall
sc stop ARKServer >nul 2>&1
sc delete ARKServer
if errorlevel 1 goto servicefailed
reg delete "%SOURCE%" /f >nul 2>&1
echo ARKServer is removed.
exit /b 0
:missing
echo install.cmd: arkserver.exe and eventmsg.dll must be in the folder of install.cmd
exit /b 2
:servicefailed
echo install.cmd: the service control manager refused (run as administrator?)
exit /b 1
:sourcefailed
echo install.cmd: the event source arksvc could not be registered
exit /b 1
:usage
echo usage: install.cmd [/uninstall]
exit /b 2
