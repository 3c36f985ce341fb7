// Console texts of the tool, stored as code page 932 bytes.
#pragma once

extern const char kFatalInit[];
extern const char kBannerRule[];
extern const char kBannerTitle[];
extern const char kBannerEnd[];
extern const char kQuestion[];
extern const char kAskAgain[];
extern const char kCancelled[];
extern const char kRegistryRemoved[];
extern const char kRegistryFailed[];
extern const char kRegistry64Removed[];
extern const char kRegistry64Failed[];
extern const char kFoldersRemoved[];
extern const char kFoldersFailed[];
extern const char kInstallInfoRemoved[];
extern const char kInstallInfoFailed[];
extern const char kUninstallKeyRemoved[];
extern const char kUninstallKeyFailed[];
extern const char kSummaryRestart[];
extern const char kSummaryRunAgain[];
extern const char kClosing[];
extern const char kAppletRemoved[];
extern const char kAppletFailed[];
extern const char kApplet64Removed[];
extern const char kApplet64Failed[];
extern const char kLspRemoved[];
extern const char kLspFailed[];
extern const char kCompanionMissing[];
