@echo off
rem Builds the virtual package of this project.
setlocal
set PROJECT_DIR=%~dp0
if "%PROJECT_DIR:~-1%"=="\" set PROJECT_DIR=%PROJECT_DIR:~0,-1%
set TARGET_DIR=
if not exist "%TARGET_DIR%" mkdir "%TARGET_DIR%"
"%INSTALLDIR%\vxbuild.exe" "%PROJECT_DIR%\Package.ini" /out "%TARGET_DIR%"
if errorlevel 1 (
  echo Build failed.
  exit /b 1
)
echo Package written to %TARGET_DIR%
