// This file is kept in UTF-8 and compiled with -fexec-charset=CP932, so every
// literal below is stored as code page 932 bytes.
#include "console/messages.h"

const char kFatalInit[] = "Fatal Error: MFC initialization failed";
const char kBannerRule[] = "####################################################################\n";
const char kBannerTitle[] = "#        製品情報フォルダ／レジストリ削除ツール「ZTXCleanUp」      #\n";
const char kBannerEnd[] = "\n";
const char kQuestion[] = "製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):";
const char kAskAgain[] = "y/nで入力してください:";
const char kCancelled[] = "処理はキャンセルされました\n";
const char kRegistryRemoved[] = "製品レジストリを削除しました\n";
const char kRegistryFailed[] = "製品レジストリの削除に失敗しました\n";
const char kRegistry64Removed[] = "製品レジストリ(64bit)を削除しました\n";
const char kRegistry64Failed[] = "製品レジストリ(64bit)の削除に失敗しました\n";
const char kFoldersRemoved[] = "製品フォルダを削除しました\n";
const char kFoldersFailed[] = "製品フォルダの削除に失敗しました\n";
const char kInstallInfoRemoved[] = "アンインストール情報フォルダを削除しました\n";
const char kInstallInfoFailed[] = "アンインストール情報フォルダの削除に失敗しました\n";
const char kUninstallKeyRemoved[] = "アンインストール情報レジストリを削除しました\n";
const char kUninstallKeyFailed[] = "アンインストール情報レジストリの削除に失敗しました\n";
const char kSummaryRestart[] = "\n終了後はOSを再起動してください";
const char kSummaryRunAgain[] = "\n使用中のファイルが削除できていないため\nOS再起動後もう１度実行してください";
const char kClosing[] = "\n何かキーを押すと終了します";
const char kAppletRemoved[] = "コントロールパネルを削除しました\n";
const char kAppletFailed[] = "コントロールパネルの削除に失敗しました\n";
const char kApplet64Removed[] = "コントロールパネル(64bit)を削除しました\n";
const char kApplet64Failed[] = "コントロールパネル(64bit)の削除に失敗しました\n";
const char kLspRemoved[] = "LSPを削除しました\n";
const char kLspFailed[] = "LSPの削除に失敗しました\n";
const char kCompanionMissing[] = "LSPの削除に失敗しました。ztxins64.exeがみつかりません\n";
