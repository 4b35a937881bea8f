@echo off
rem Aggiorna Archivio test kit: runs every test of the kit on this machine and ends with the line
rem "N passed, M failed"; the exit status is 0 only when nothing failed.
rem Started from an administrator prompt it runs everything; without administrator rights it runs
rem what needs none and reports the rest on NOT RUN lines, with the reason.
rem Usage: run-tests.cmd [--verbose] [scenario...]     (cmd.exe only: nothing to install)
setlocal
"%~dp0e2e\e2e_runner.exe" --kit %*
exit /b %errorlevel%
