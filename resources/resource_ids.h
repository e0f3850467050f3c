// Identifiers of the dialog templates, their controls and the string table.
#pragma once

namespace pelisto::res {

// Dialog templates.
inline constexpr int kDownloadDialog = 124;   // "File Download", the transfer dialog
inline constexpr int kUnzipDialog = 202;      // "Pelisto Unzipper"
inline constexpr int kFileInUseDialog = 203;  // "Install Failed!"
inline constexpr int kUnGzipDialog = 204;     // "Pelisto UnGZip; "
inline constexpr int kStatusDialog = 205;     // "File Download", class "StartDownload"

// The animation the transfer dialog plays.
inline constexpr int kDownloadAnimation = 126;
// The window class of the status dialog, which the single-run guard looks for.
inline constexpr char kStatusDialogClass[] = "StartDownload";

// Controls of template 124.
inline constexpr int kDownloadAnimationControl = 1000;
inline constexpr int kDownloadStatusLine = 1001;
inline constexpr int kDownloadSecondLine = 1002;
inline constexpr int kDownloadProgress = 1003;
inline constexpr int kDownloadTimeLeft = 1004;
inline constexpr int kDownloadRate = 1005;
// Controls of template 202.
inline constexpr int kUnzipProgress = 204;
// Controls of template 203 (Retry is IDOK, Stop Install IDCANCEL).
inline constexpr int kFileInUseFile = 216;
inline constexpr int kFileInUseSkip = 221;
// Controls of template 204.
inline constexpr int kUnGzipProgress = 204;
inline constexpr int kUnGzipSource = 217;
// Controls of template 205 (Cancel is IDCANCEL).
inline constexpr int kStatusStatusLine = 1001;
inline constexpr int kStatusWorkItem = 1002;
inline constexpr int kStatusFileName = 208;
inline constexpr int kStatusFileBar = 204;
inline constexpr int kStatusRunBar = 218;

// String table.
inline constexpr unsigned kIdsFileFromServer = 102;      // "%1 from %2"
inline constexpr unsigned kIdsConnectedTo = 103;         // "Connected to %1"
inline constexpr unsigned kIdsResolvingName = 104;       // "Resolving name: %1"
inline constexpr unsigned kIdsResolvedName = 105;        // "Resolved name to %1"
inline constexpr unsigned kIdsConnectingTo = 106;        // "Connecting to %1"
inline constexpr unsigned kIdsRedirectingTo = 107;       // "Redirecting to %1"
inline constexpr unsigned kIdsGettingFileInfo = 108;     // "Getting file information"
inline constexpr unsigned kIdsUrlParseError = 109;       // "An error occurred parsing the url: %s"
inline constexpr unsigned kIdsDownloadAttemptError = 110;
inline constexpr unsigned kIdsConnectError = 111;
inline constexpr unsigned kIdsNoValidResponse = 112;
inline constexpr unsigned kIdsNoValidHttpResponse = 113;
inline constexpr unsigned kIdsDownloadingError = 114;
inline constexpr unsigned kIdsPercentCompleted = 115;    // "%1% of %2 Completed"
inline constexpr unsigned kIdsRetrievingFile = 116;
inline constexpr unsigned kIdsSizeOfTotal = 117;         // "%1 of %2"
inline constexpr unsigned kIdsSeconds = 118;
inline constexpr unsigned kIdsMinutes = 119;
inline constexpr unsigned kIdsMinutesSeconds = 120;
inline constexpr unsigned kIdsBytes = 121;
inline constexpr unsigned kIdsKilobytes = 123;
inline constexpr unsigned kIdsMegabytes = 125;
inline constexpr unsigned kIdsTimeCopied = 127;          // "%1 (%2 copied)"
inline constexpr unsigned kIdsBytesPerSecond = 128;
inline constexpr unsigned kIdsKilobytesPerSecond = 129;
inline constexpr unsigned kIdsFileExists = 130;
inline constexpr unsigned kIdsOpenFileError = 131;
inline constexpr unsigned kIdsAbortingTransfer = 132;

}  // namespace pelisto::res
