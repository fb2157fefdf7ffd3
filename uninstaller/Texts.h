#pragma once
// Every text the uninstaller shows, in one place. "\r" breaks a line; the
// windows show it as a line break.

#include <initializer_list>
#include <string>
#include <string_view>

namespace plx::uninst {

// format with each "%s" replaced by the next of args.
std::string formatText(std::string_view format, std::initializer_list<std::string_view> args);

// Start-up and the single instance.
inline constexpr const char* kInfoFileMissing =
    "インストール情報ファイルが見つかりません\rアンインストールは中断します";
inline constexpr const char* kAlreadyRunning = "既に %s が起動しています。";
inline constexpr const char* kMessageCaption = "CVUnInstaller";
inline constexpr const char* kHiddenWindowSuffix = " アンインストール";
// A file that cannot be read or used ends the program: the detail goes in the middle.
inline constexpr const char* kInfoFileUnreadable =
    "インストール情報ファイルを読み込めません\r%s\rアンインストールは中断します";
inline constexpr const char* kWritableByOthers = "%s: 他のユーザーが書き込めるファイルです";
inline constexpr const char* kSymbolicLink = "%s: シンボリックリンクです";
// A file that is not an install-information file (no Title, BaseDir or
// FileCount, or Ver not a number) is refused as a whole.
inline constexpr const char* kNotInstallInfo = "インストール情報ファイルが不正です: %s";
inline constexpr const char* kInstallerTypeNotNumber = "InstallerType が数値ではありません";
inline constexpr const char* kStartFailed = "アンインストールを開始できません\r%s";
inline constexpr const char* kNoScreen =
    "画面がないため確認できません。無人で削除するには PLX_UNINST_SCRIPT=ok を指定してください";
// An unattended answer the program does not know: the variable and the word.
inline constexpr const char* kScriptUsage =
    "CVUninst: %s に使えない答えです: \"%s\"\n"
    "使い方: PLX_UNINST_SCRIPT=ok[,yes|yes-to-all|no|no-to-all...] または PLX_UNINST_SCRIPT=cancel\n";
// Why shutting down waits (shown by the system's list of inhibitors).
inline constexpr const char* kShutdownReason = "アンインストール中です";

// The main dialog.
inline constexpr const char* kCaptionSuffix = " - CorvalUnInstaller";
inline constexpr const char* kStartText = "の削除を開始します。\rよろしければ、「OK」を押して下さい。";
inline constexpr const char* kHeadingSuffix = "のアンインストール";
inline constexpr const char* kRemoving = "削除しています.....しばらくお待ち下さい。";
inline constexpr const char* kCompleted = "アンインストールは完了しました。";
inline constexpr const char* kStopped = "アンインストールを中止しました。";
inline constexpr const char* kFilesRemained =
    "いくつか削除できないファイルがありました。\r必要のないファイルであれば、手動で削除してください。";
inline constexpr const char* kOkButton = "OK";
inline constexpr const char* kCancelButton = "キャンセル";
inline constexpr const char* kDoneButton = "完了";
inline constexpr const char* kProductLink = "製品情報";
inline constexpr const char* kInstallerLink = "CorvalInstaller";
inline constexpr const char* kAskProductPage = "製品情報のホームページへ接続しますか？";
inline constexpr const char* kAskInstallerPage = "コルヴァルインストーラーのホームページへ接続しますか？";
inline constexpr const char* kInstallerHomePage = "http://www.corval.example/";
inline constexpr const char* kLivePrefix = "http://";

// The question dialog for a shared file no program counts any more.
inline constexpr const char* kQuestionCaption = "共有ファイルの削除";
inline constexpr const char* kQuestionText =
    "次の共有ファイルは、もうどのプログラムからも使用されていない可能性があります。\r削除しますか？";
inline constexpr const char* kQuestionFileLabel = "ファイル名:";
inline constexpr const char* kQuestionFolderLabel = "フォルダ:";
inline constexpr const char* kYesButton = "はい(&Y)";
inline constexpr const char* kYesToAllButton = "すべてはい(&A)";
inline constexpr const char* kNoButton = "いいえ(&N)";
inline constexpr const char* kNoToAllButton = "すべていいえ(&O)";

// What a removal left, and why: "<path>（<reason>）", one a line.
inline constexpr const char* kKeptFile = "残したファイル: %s（%s）";
inline constexpr const char* kKeptChanged = "インストール後に変更されています";
inline constexpr const char* kKeptCounted = "他のプログラムが使用しています";
inline constexpr const char* kKeptAnswered = "残すと答えました";
inline constexpr const char* kKeptFolder = "空でないか、残すフォルダです";
inline constexpr const char* kKeptUndeletable = "削除できません: %s";
inline constexpr const char* kKeptRegistered = "登録を解除できません: %s";
inline constexpr const char* kKeptThroughLink = "シンボリックリンクを経由するため削除しません";
inline constexpr const char* kKeptOutside = "インストール先の外を指すため削除しません";
// A registration that could not be undone stops the removal before it deletes anything.
inline constexpr const char* kUnregisterStopped =
    "登録を解除できないため、アンインストールを中止しました。何も削除していません。\r%s";

// Errors of unregistration: they stop the removal, or keep a shared file.
inline constexpr const char* kLoadFailed = "%sのロードに失敗しました。";
inline constexpr const char* kNotFoundIn = "%sが%s内で見つかりません。";
inline constexpr const char* kCallFailed = "%sが失敗しました。(%s)";
inline constexpr const char* kNotFound = "%sが見つかりません。";
inline constexpr const char* kNoUnregisterFunction = "登録解除関数の取得に失敗しました。";

} // namespace plx::uninst
