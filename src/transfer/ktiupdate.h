// TKtCustomWebComponent, the base of every transfer component, and the web updater built on it.
//
// A transfer component drives the Internet API (HTTP, HTTPS, FTP) or plain file access (network
// paths) and reports three ways: the step under way (Action) and the outcome (Status), each with a
// change event; a progress event that can abort; and an optional status window. Everything runs
// synchronously on the caller's thread.
#pragma once

#include <functional>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/KtInBase.h"
#include "platform/WinInet.h"
#include "rtl/Classes.h"
#include "rtl/Streams.h"
#include "transfer/KtInStatDlg.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TfrmKtInetUpdate;

// For a program's SIGINT/SIGTERM handler, before it ends the process (async-signal-safe): removes
// the temporary files of the downloads under way, and stamps a part kept for ResumeDownload with
// its remote time, so that the next run continues it.
void KtIAbandonDownloads() noexcept;

// A file a user named, written through a new temporary file beside it (same folder, so that the
// rename is atomic; the target's permissions) that replaces it only on Commit. Until then the
// previous file stays as it was; a temporary file not committed is removed, also by
// KtIAbandonDownloads.
class TKtIReplacingFile {
 public:
  explicit TKtIReplacingFile(const String& Target);  // raises EFCreateError
  ~TKtIReplacingFile();
  TKtIReplacingFile(const TKtIReplacingFile&) = delete;
  TKtIReplacingFile& operator=(const TKtIReplacingFile&) = delete;
  const String& TempName() const { return FTempName; }
  // Renames the temporary file over the target; false (errno set) when that fails.
  bool Commit();

 private:
  String FTarget, FTempName;
  struct TGuard;
  std::unique_ptr<TGuard> FGuard;
};

enum TKtIService { isHTTP, isHTTPS, isFTP, isNetwork };
KTINET_ENUM_TYPE(TKtIService, u"isHTTP", u"isHTTPS", u"isFTP", u"isNetwork")
enum TKtIStatus { isInProgress, isFinished, isFailed, isSkipped, isNotFound };
enum TKtIAction {
  iaIdle, iaConnecting, iaConnected, iaDisconnecting, iaDisconnected, iaFileSearch, iaFileFound,
  iaComparing, iaCompared, iaDownloading, iaDownloaded
};

// What a listing tells of one entry besides its name.
struct TKtIFileDetail {
  bool Directory = false;
  bool HasSize = false;
  Int64 Size = 0;
  bool HasTime = false;
  FILETIME LastWriteTime;  // UTC
};

// Progress of a download; setting Abort stops it after the block in progress.
using TKtIProgress = std::function<void(TObject* Sender, Integer CurValue, Integer MaxValue, bool& Abort)>;
// Equal arrives with the automatic comparison's answer (true: no download needed).
using TKtIFileCompare = std::function<void(TObject* Sender, bool& Equal)>;

class TKtCustomWebComponent : public TComponent {
  KTINET_PUBLISHED(TKtCustomWebComponent)
 public:
  explicit TKtCustomWebComponent(TComponent* AOwner);
  ~TKtCustomWebComponent() override;

  // Runs one transfer; false only when the final Status is isFailed. Stream errors and exceptions
  // of descendants leave it (the handles are closed and the window freed on the way out).
  virtual bool Execute();

  const String& Agent() const { return FWEBAgent; }
  void SetAgent(const String& Value) { FWEBAgent = Value; }
  Word Port() const { return FWEBPort; }
  void SetPort(Word Value) { FWEBPort = Value; }
  TKtIService Service() const { return FService; }
  // A different service sets Port to its default (80, 443, 21; isNetwork keeps the port), except
  // while a form file is being read.
  void SetService(TKtIService Value);
  const String& Host() const { return FWEBHost; }
  void SetHost(const String& Value) { FWEBHost = Value; }
  const String& User() const { return FWEBUser; }
  void SetUser(const String& Value) { FWEBUser = Value; }
  const String& Password() const { return FWEBPassword; }
  void SetPassword(const String& Value) { FWEBPassword = Value; }
  TKtInetProxy* Proxy() const { return FProxy.get(); }
  void SetProxy(const TKtInetProxy* Value) { FProxy->Assign(Value); }
  TKtInetStatusDialog* StatusDialog() const { return FStatusDialog.get(); }
  void SetStatusDialog(const TKtInetStatusDialog* Value) { FStatusDialog->Assign(Value); }
  bool LoginPrompt() const { return FLoginPrompt; }
  void SetLoginPrompt(bool Value) { FLoginPrompt = Value; }
  bool ResumeDownload() const { return FResumeDownload; }
  void SetResumeDownload(bool Value) { FResumeDownload = Value; }

  TKtIStatus Status() const { return FStatus; }
  // Fires OnStatusChange only when the value really changes.
  void SetStatus(TKtIStatus Value);
  TKtIAction Action() const { return FAction; }
  // Fires OnActionChange only on a change; with the window shown, redraws its step line first.
  void SetAction(TKtIAction Value);

  // The status code of the last HTTP answer read by GetFileInfoFromInet or a descendant's own
  // request (0: none yet).
  DWORD LastHTTPStatus() const { return FLastHTTPStatus; }
  // Why the last run failed, in one line that names the cause (the server's own reply where it
  // gave one) and the file it concerns; empty after a run that did not fail.
  const String& LastErrorText() const { return FErrorText; }
  // The last run failed because it was cancelled (the window's Cancel, or OnProgress's Abort).
  bool Cancelled() const { return FCancelled; }

  // Milliseconds allowed for connecting, for silence (or a trickle below 16 bytes a second)
  // while waiting for the server, and for the whole run; 0 = no limit. The defaults are 60 s,
  // 60 s and no limit.
  int ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int Value) { FConnectTimeout = Value < 0 ? 0 : Value; }
  int ReadTimeout() const { return FReadTimeout; }
  void SetReadTimeout(int Value) { FReadTimeout = Value < 0 ? 0 : Value; }
  int MaxTime() const { return FMaxTime; }
  void SetMaxTime(int Value) { FMaxTime = Value < 0 ? 0 : Value; }

  // Deepest folder level a listing with sub-folders enters; a deeper tree fails the listing.
  static constexpr int kMaxFolderDepth = 64;

  const TKtIProgress& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TKtIProgress Value) { FOnProgress = std::move(Value); }
  const TNotifyEvent& OnActionChange() const { return FOnActionChange; }
  void SetOnActionChange(TNotifyEvent Value) { FOnActionChange = std::move(Value); }
  const TNotifyEvent& OnStatusChange() const { return FOnStatusChange; }
  void SetOnStatusChange(TNotifyEvent Value) { FOnStatusChange = std::move(Value); }
  const TNotifyEvent& OnBeforeExecute() const { return FOnBeforeExecute; }
  void SetOnBeforeExecute(TNotifyEvent Value) { FOnBeforeExecute = std::move(Value); }
  const TNotifyEvent& OnAfterExecute() const { return FOnAfterExecute; }
  void SetOnAfterExecute(TNotifyEvent Value) { FOnAfterExecute = std::move(Value); }

  // The window of the run under way (null outside Execute or with the window disabled).
  TfrmKtInetUpdate* StatusWindow() const { return dlgStatus; }

  // Size of the blocks ReadFileFromInet moves, with one progress update each.
  static constexpr int kBlockSize = 2050;

 protected:
  // Records why the run fails (the first reason given wins) and sets isFailed.
  void Failed(const String& Reason);
  // The cause of the Internet call that just failed, in words: the server's reply text where
  // the error is only "the server returned extended information".
  static String InternetFailure();
  // Milliseconds left of MaxTime in this run (-1: no limit; 0: none left).
  long long TimeLeft() const;
  // Hands the time left to the session's transfers from now on; false when none is left.
  bool ApplyDeadline();
  // ConnectTimeout, ReadTimeout and MaxTime (or what is left of it in this run) on a session.
  void ApplyTimeouts(HINTERNET Session) const;
  // A session with the agent, the proxy and the deadlines (null when the layer refuses one).
  HINTERNET OpenSession();
  // The last ReadFileFromInet left a resumable part in the local file (ResumeDownload).
  bool FPartialKept = false;
  // When set, ReadDirFromInet adds one detail here for every name it adds to the list.
  std::vector<TKtIFileDetail>* FListDetails = nullptr;
  // For descendants that read HTTP answers of their own.
  void SetLastHTTPStatus(DWORD Value) { FLastHTTPStatus = Value; }
  // The descendant's transfer: connects, works and disconnects itself, and reports through
  // SetStatus.
  virtual void InternalExecute() = 0;

  // Opens the session and the connection (nothing for isNetwork). Never raises: a failure sets
  // isFailed, and callers test the handles afterwards.
  void ConnectToInet(bool RefreshProxy);
  void DisconnectFromInet();
  // True when the remote file was found; fills its size (low 32 bits) and last-write time (left
  // as passed when the server gives none). For HTTP the sent request stays open in hFindFile and
  // its status code in LastHTTPStatus.
  bool GetFileInfoFromInet(const String& AFileName, Cardinal& ASize, FILETIME& ATime);
  // Appends the names found (FTP and network paths) to AList; true when AList is not empty.
  bool ReadDirFromInet(const String& ADirectory, const String& AMask, bool AIncludeSubFolders, TStrings* AList);
  // Downloads a whole URL into AStream over a session of its own; the stream ends at position 0.
  void ReadHTTPGetResponse(const String& AURL, TStream* AStream);
  String ReadHTTPGetResponseString(const String& AURL);
  // Updates the window and fires OnProgress.
  void UpdateProgress(Cardinal ACurrent, Cardinal AMaximum, bool& Abort);
  // Copies the remote file into the local one in 2050-byte blocks with progress; true when the
  // copy ran (also when it was aborted or failed, which set isFailed). Without ResumeDownload the
  // bytes go to a temporary file beside the local one that replaces it only when complete.
  bool ReadFileFromInet(const String& ARemoteFileName, const String& ALocalFileName, Cardinal ASize);

  HINTERNET hInet = nullptr;
  HINTERNET hURL = nullptr;
  HINTERNET hFindFile = nullptr;
  TfrmKtInetUpdate* dlgStatus = nullptr;

 private:
  void PrepareStatusWindow();
  void FreeStatusWindow();

  DWORD RequestFlags() const;
  void ReadDirFtp(const String& ADirectory, const String& AMask, bool AIncludeSubFolders, TStrings* AList);
  void ReadDirNetwork(const String& ADirectory, const String& AMask, bool AIncludeSubFolders, TStrings* AList);

  String FWEBAgent;
  Word FWEBPort = 80;
  String FWEBHost;
  String FWEBUser;
  String FWEBPassword;
  TKtIService FService = isHTTP;
  TKtIStatus FStatus = isInProgress;
  TKtIAction FAction = iaIdle;
  std::unique_ptr<TKtInetProxy> FProxy;
  std::unique_ptr<TKtInetStatusDialog> FStatusDialog;
  bool FLoginPrompt = true;
  bool FResumeDownload = false;
  DWORD FLastHTTPStatus = 0;
  String FErrorText;
  bool FCancelled = false;
  int FConnectTimeout = 60000;
  int FReadTimeout = 60000;
  int FMaxTime = 0;
  long long FDeadline = 0;  // steady-clock milliseconds at which the run must end (0: none)
  bool FExecuting = false;
  int FNetworkDepth = 0;    // folder levels of the network listing under way
  std::vector<std::pair<std::uint64_t, std::uint64_t>> FDirChain;  // network directories being listed
  TKtIProgress FOnProgress;
  TNotifyEvent FOnActionChange;
  TNotifyEvent FOnStatusChange;
  TNotifyEvent FOnBeforeExecute;
  TNotifyEvent FOnAfterExecute;
};

// Brings one local file up to date from its remote copy: compares size and time, downloads when
// they differ or the local copy is older, and stamps the local file with the remote time.
class TKtCustomWebUpdater : public TKtCustomWebComponent {
  KTINET_PUBLISHED(TKtCustomWebUpdater)
 public:
  explicit TKtCustomWebUpdater(TComponent* AOwner);

  void InternalExecute() override;

  const String& RemoteFileName() const { return FRemoteFileName; }
  virtual void SetRemoteFileName(const String& Value);
  Cardinal RemoteFileSize() const { return FRemoteFileSize; }
  const FILETIME& RemoteFileCreated() const { return FRemoteFileCreated; }
  const TKtIFileCompare& OnFileCompare() const { return FOnFileCompare; }
  void SetOnFileCompare(TKtIFileCompare Value) { FOnFileCompare = std::move(Value); }

 protected:
  friend class TKtCustomWebComponent;  // the status window shows both file names

  Cardinal FRemoteFileSize = 0;
  FILETIME FRemoteFileCreated;
  String FRemoteFileName;
  String FLocalFileName;

 private:
  TKtIFileCompare FOnFileCompare;
};

class TKtWebUpdater : public TKtCustomWebUpdater {
  KTINET_PUBLISHED(TKtWebUpdater)
 public:
  using TKtCustomWebUpdater::TKtCustomWebUpdater;
  const String& LocalFileName() const { return FLocalFileName; }
  void SetLocalFileName(const String& Value) { FLocalFileName = Value; }
};

}  // namespace ktinet
