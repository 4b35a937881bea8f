@echo off
rem Aggiorna Archivio test kit: runs every test of the kit on this machine and ends with the line
rem "N passed, M failed, K skipped"; the exit status is 0 only when nothing failed.
rem It needs a command prompt opened with "Esegui come amministratore": without one the runner says
rem so, and how to open one, and runs nothing.
rem Usage: run-tests.cmd [--verbose] [scenario...]     (cmd.exe only: nothing to install)
setlocal
rem Started from Explorer (a double-click, or "Esegui come amministratore" in its menu), cmd.exe runs
rem this file alone and closes its window at the end: the window then waits for a key, so that the
rem last lines can be read. Explorer starts it as: cmd.exe /c ""<this file>" ", with no arguments
rem (a script or a CI job that starts it with arguments never waits).
set "esplora="
if not "%~1"=="" goto pagina
set "avvio=%cmdcmdline%"
if not defined avvio goto pagina
set "avvio=%avvio:"=%"
call set "resto=%%avvio:%~f0=%%"
if /i not "%resto%"=="%avvio%" if /i not "%avvio:/c =%"=="%avvio%" set "esplora=1"
:pagina
rem The console's code page as it was, put back at the end (the runner writes UTF-8). Without a
rem console (output to a file) chcp says 0: nothing to put back.
set "pagina="
for /f "tokens=2 delims=:" %%p in ('chcp') do set "pagina=%%p"
if defined pagina set "pagina=%pagina: =%"
if defined pagina set "pagina=%pagina:.=%"
if "%pagina%"=="0" set "pagina="
"%~dp0e2e\e2e_runner.exe" --kit %*
set "stato=%errorlevel%"
if defined pagina chcp %pagina% >nul
if defined esplora pause
exit /b %stato%
