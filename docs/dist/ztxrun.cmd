@echo off
rem ztxrun.cmd runs ZTXCleanUp.exe unattended from the folder of this file and
rem ends with an exit code read from the output (the tool itself always ends
rem with 0). The codes:
rem   0     nothing of the product was found
rem   3010  the product was removed; Windows must restart
rem   1     restart Windows and run again: the tool asks for that, or printed
rem         a failure line or a Windows error message
rem   2     the tool did not run, or its output has no closing line or could
rem         not be read
rem Usage: ztxrun.cmd [output file]
rem The output file defaults to ZTXCleanUp.txt in the Windows folder, where
rem users cannot write; beside it three scratch files live for a moment.
rem The output is code page 932 bytes. findstr judges it against the lines
rem at the end of this file, read with /G: as bytes, so the console code page
rem plays no part (cmd decodes command lines with that code page). Every line
rem of this file is one of those search strings: keep it without empty lines
rem and every line under 128 bytes.
setlocal enableextensions
set "self=%~f0"
set "out=%SystemRoot%\ZTXCleanUp.txt"
if not "%~1"=="" set "out=%~f1"
rem findstr by its full path: the current folder comes first in the search.
set "fs=%SystemRoot%\system32\findstr.exe"
set "result=2"
if exist "%~dp0ZTXCleanUp.exe" goto run
> "%out%" echo ztxrun.cmd: ZTXCleanUp.exe is not in the folder of ztxrun.cmd
goto show
:run
pushd "%~dp0"
echo y| ZTXCleanUp.exe > "%out%"
if not "%errorlevel%"=="0" goto back
rem The closing line has no line end; findstr matches a whole line (/X) only
rem when it has one, so a copy gets one. Empty lines go: the banner has one.
copy /b "%out%" "%out%.all" > nul
echo.>> "%out%.all"
"%fs%" /V /R /C:"^$" "%out%.all" > "%out%.lines"
rem Lines the tool prints on success. Several search strings need /I: without
rem it, findstr can miss a match when the strings differ in length.
"%fs%" /X /L /I /G:"%self%" "%out%.lines" > "%out%.known"
rem Of those, only the closing line has none of these ASCII pieces.
"%fs%" /V /L /C:"#" "%out%.known" | "%fs%" /V /L /C:"(y/n):" > "%out%.all"
"%fs%" /V /L /C:"....." "%out%.all" | "%fs%" /V /L /C:"OS" > nul
if errorlevel 1 goto tidy
rem No summary (both summaries hold "OS"): the question was not answered y.
"%fs%" /L /C:"OS" "%out%.lines" > nul
if errorlevel 1 goto tidy
rem Any other line: a failure line, the summary that asks for another run,
rem a Windows error message. (In a .cmd file set puts errorlevel to 0, so
rem each test of errorlevel comes right after its command. findstr ends with
rem 2 when it could not search.)
"%fs%" /V /X /L /I /G:"%self%" "%out%.lines" > nul
if errorlevel 2 goto tidy
if not errorlevel 1 goto again
"%fs%" /L /C:"....." "%out%.known" > nul
if errorlevel 2 goto tidy
if errorlevel 1 (set "result=0") else set "result=3010"
goto tidy
:again
set "result=1"
:tidy
del "%out%.all" "%out%.lines" "%out%.known"
:back
popd
:show
rem For a remote shell: the output on standard output too.
type "%out%"
echo.
exit /b %result%
rem The lines of a run without failures, as the tool prints them:
####################################################################
#        製品情報フォルダ／レジストリ削除ツール「ZTXCleanUp」      #
製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):
製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):.....製品レジストリを削除しました
製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):.....製品レジストリ(64bit)を削除しました
製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):.....製品フォルダを削除しました
製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):.....コントロールパネルを削除しました
製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):.....コントロールパネル(64bit)を削除しました
製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):.....LSPを削除しました
製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):.....アンインストール情報フォルダを削除しました
製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):.....アンインストール情報レジストリを削除しました
.....製品レジストリを削除しました
.....製品レジストリ(64bit)を削除しました
.....製品フォルダを削除しました
.....コントロールパネルを削除しました
.....コントロールパネル(64bit)を削除しました
.....LSPを削除しました
.....アンインストール情報フォルダを削除しました
.....アンインストール情報レジストリを削除しました
終了後はOSを再起動してください
何かキーを押すと終了します
