// The Windows Internet API (wide-character functions) as the transfer components use it: session,
// connection, request, find and file handles; the same flag, option and error values; a pull model
// where InternetReadFile hands out up to N bytes at a time. Implemented over libcurl; tests may
// put a fake behind the same functions (TInternetBackend below).
//
// Handles are opaque values, never pointers into memory: closing a session or connection closes
// its children too, and a later InternetCloseHandle of such a child fails with
// ERROR_INVALID_HANDLE instead of touching freed memory.
//
// Threads: one handle tree is used by one thread at a time; separate trees may run in parallel.
// The last error and the last response text are kept per thread.
//
// KTINET_CURL_VERBOSE set in the environment makes libcurl trace every transfer on stderr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "rtl/SysUtils.h"
#include "rtl/System.h"

namespace ktinet {

using HINTERNET = struct HINTERNET__*;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using LONG = std::int32_t;
using BOOL = bool;
using DWORD_PTR = std::uintptr_t;
using INTERNET_PORT = std::uint16_t;

constexpr DWORD MAX_PATH = 260;

// ---- Structures -------------------------------------------------------------------------------
struct SYSTEMTIME {
  WORD wYear = 0;
  WORD wMonth = 0;      // 1..12
  WORD wDayOfWeek = 0;  // 0 = Sunday
  WORD wDay = 0;
  WORD wHour = 0;
  WORD wMinute = 0;
  WORD wSecond = 0;
  WORD wMilliseconds = 0;
};

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes = 0;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh = 0;
  DWORD nFileSizeLow = 0;
  // Ours: the FTP server's "unique" fact (MLSD) as a 64-bit digest, high half first; both 0 when
  // the server gives none. Two entries with the same digest are one file reached by two paths.
  DWORD dwReserved0 = 0;
  DWORD dwReserved1 = 0;
  Char cFileName[MAX_PATH] = {};  // zero-terminated; longer names are cut to MAX_PATH - 1
  Char cAlternateFileName[14] = {};
};

// False when the date is out of range (years 1601..30827, valid month/day/time).
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime);
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);

// An HTTP date (Last-Modified, Date ...) in any of its three forms: "Sun, 06 Nov 1994 08:49:37
// GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"; always UTC. False, and
// `out` untouched, for anything else or a date out of range.
bool ParseHttpDate(std::string_view text, SYSTEMTIME& out);

// ---- Constants --------------------------------------------------------------------------------
constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;  // the system proxy: the environment here
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;
constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY = 4;

constexpr DWORD INTERNET_SERVICE_FTP = 1;
constexpr DWORD INTERNET_SERVICE_GOPHER = 2;
constexpr DWORD INTERNET_SERVICE_HTTP = 3;

constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;  // the service's default port
constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
constexpr INTERNET_PORT INTERNET_DEFAULT_GOPHER_PORT = 70;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD INTERNET_FLAG_RAW_DATA = 0x40000000;
constexpr DWORD INTERNET_FLAG_EXISTING_CONNECT = 0x20000000;
constexpr DWORD INTERNET_FLAG_ASYNC = 0x10000000;
constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000;
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr DWORD INTERNET_FLAG_DONT_CACHE = INTERNET_FLAG_NO_CACHE_WRITE;
constexpr DWORD INTERNET_FLAG_MAKE_PERSISTENT = 0x02000000;
constexpr DWORD INTERNET_FLAG_FROM_CACHE = 0x01000000;
constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
constexpr DWORD INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
constexpr DWORD INTERNET_FLAG_READ_PREFETCH = 0x00100000;
constexpr DWORD INTERNET_FLAG_NO_COOKIES = 0x00080000;
constexpr DWORD INTERNET_FLAG_NO_AUTH = 0x00040000;
constexpr DWORD INTERNET_FLAG_CACHE_IF_NET_FAIL = 0x00010000;
constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP = 0x00008000;
constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS = 0x00004000;
constexpr DWORD INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
constexpr DWORD INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
constexpr DWORD INTERNET_FLAG_RESYNCHRONIZE = 0x00000800;
constexpr DWORD INTERNET_FLAG_HYPERLINK = 0x00000400;
constexpr DWORD INTERNET_FLAG_NO_UI = 0x00000200;
constexpr DWORD INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;
constexpr DWORD INTERNET_FLAG_TRANSFER_ASCII = 0x00000001;
constexpr DWORD INTERNET_FLAG_TRANSFER_BINARY = 0x00000002;

constexpr DWORD FTP_TRANSFER_TYPE_UNKNOWN = 0;
constexpr DWORD FTP_TRANSFER_TYPE_ASCII = 1;
constexpr DWORD FTP_TRANSFER_TYPE_BINARY = 2;

constexpr DWORD SECURITY_FLAG_SECURE = 0x00000001;
constexpr DWORD SECURITY_FLAG_IGNORE_REVOCATION = 0x00000080;
constexpr DWORD SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100;
constexpr DWORD SECURITY_FLAG_IGNORE_WRONG_USAGE = 0x00000200;
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
constexpr DWORD SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS = 0x00004000;
constexpr DWORD SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP = 0x00008000;

// Options for InternetSetOptionW. Numbers are DWORDs (bufferLength 4); texts are Char strings
// (bufferLength in characters; 0 or -1 means zero-terminated).
constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;  // milliseconds
constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;  // milliseconds without any data arriving
constexpr DWORD INTERNET_OPTION_DATA_SEND_TIMEOUT = 7;
constexpr DWORD INTERNET_OPTION_DATA_RECEIVE_TIMEOUT = 8;
constexpr DWORD INTERNET_OPTION_HANDLE_TYPE = 9;
constexpr DWORD INTERNET_OPTION_USERNAME = 28;
constexpr DWORD INTERNET_OPTION_PASSWORD = 29;
constexpr DWORD INTERNET_OPTION_SECURITY_FLAGS = 31;
constexpr DWORD INTERNET_OPTION_USER_AGENT = 41;
constexpr DWORD INTERNET_OPTION_PROXY_USERNAME = 43;
constexpr DWORD INTERNET_OPTION_PROXY_PASSWORD = 44;
// Ours: a PEM file of extra certificate authorities trusted for HTTPS besides the system store.
// On a handle it applies to that handle and its children; with a null handle to every session
// opened afterwards in this process (an empty text removes it).
constexpr DWORD KTINET_OPTION_CA_FILE = 0x4B540001;
// Ours: milliseconds a whole transfer may take, from the request to the last byte (0 = no limit,
// the default); a server that trickles its answer cannot hold a transfer beyond it.
constexpr DWORD KTINET_OPTION_MAX_TIME = 0x4B540002;

constexpr DWORD INTERNET_HANDLE_TYPE_INTERNET = 1;
constexpr DWORD INTERNET_HANDLE_TYPE_CONNECT_FTP = 2;
constexpr DWORD INTERNET_HANDLE_TYPE_CONNECT_HTTP = 4;
constexpr DWORD INTERNET_HANDLE_TYPE_FTP_FIND = 5;
constexpr DWORD INTERNET_HANDLE_TYPE_FTP_FILE = 7;
constexpr DWORD INTERNET_HANDLE_TYPE_HTTP_REQUEST = 13;

// HttpQueryInfoW: an attribute in the low 16 bits, modifiers in the high bits.
constexpr DWORD HTTP_QUERY_MIME_VERSION = 0;
constexpr DWORD HTTP_QUERY_CONTENT_TYPE = 1;
constexpr DWORD HTTP_QUERY_CONTENT_TRANSFER_ENCODING = 2;
constexpr DWORD HTTP_QUERY_CONTENT_ID = 3;
constexpr DWORD HTTP_QUERY_CONTENT_DESCRIPTION = 4;
constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
constexpr DWORD HTTP_QUERY_CONTENT_LANGUAGE = 6;
constexpr DWORD HTTP_QUERY_ALLOW = 7;
constexpr DWORD HTTP_QUERY_PUBLIC = 8;
constexpr DWORD HTTP_QUERY_DATE = 9;
constexpr DWORD HTTP_QUERY_EXPIRES = 10;
constexpr DWORD HTTP_QUERY_LAST_MODIFIED = 11;
constexpr DWORD HTTP_QUERY_MESSAGE_ID = 12;
constexpr DWORD HTTP_QUERY_URI = 13;
constexpr DWORD HTTP_QUERY_DERIVED_FROM = 14;
constexpr DWORD HTTP_QUERY_COST = 15;
constexpr DWORD HTTP_QUERY_LINK = 16;
constexpr DWORD HTTP_QUERY_PRAGMA = 17;
constexpr DWORD HTTP_QUERY_VERSION = 18;      // "HTTP/1.1"
constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;  // "200", or a DWORD with HTTP_QUERY_FLAG_NUMBER
constexpr DWORD HTTP_QUERY_STATUS_TEXT = 20;  // the reason phrase: "OK"
constexpr DWORD HTTP_QUERY_RAW_HEADERS = 21;  // status line and headers, each ended by a zero
constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;
constexpr DWORD HTTP_QUERY_CONNECTION = 23;
constexpr DWORD HTTP_QUERY_ACCEPT = 24;
constexpr DWORD HTTP_QUERY_ACCEPT_CHARSET = 25;
constexpr DWORD HTTP_QUERY_ACCEPT_ENCODING = 26;
constexpr DWORD HTTP_QUERY_ACCEPT_LANGUAGE = 27;
constexpr DWORD HTTP_QUERY_AUTHORIZATION = 28;
constexpr DWORD HTTP_QUERY_CONTENT_ENCODING = 29;
constexpr DWORD HTTP_QUERY_FORWARDED = 30;
constexpr DWORD HTTP_QUERY_FROM = 31;
constexpr DWORD HTTP_QUERY_IF_MODIFIED_SINCE = 32;
constexpr DWORD HTTP_QUERY_LOCATION = 33;
constexpr DWORD HTTP_QUERY_ORIG_URI = 34;
constexpr DWORD HTTP_QUERY_REFERER = 35;
constexpr DWORD HTTP_QUERY_RETRY_AFTER = 36;
constexpr DWORD HTTP_QUERY_SERVER = 37;
constexpr DWORD HTTP_QUERY_TITLE = 38;
constexpr DWORD HTTP_QUERY_USER_AGENT = 39;
constexpr DWORD HTTP_QUERY_WWW_AUTHENTICATE = 40;
constexpr DWORD HTTP_QUERY_PROXY_AUTHENTICATE = 41;
constexpr DWORD HTTP_QUERY_ACCEPT_RANGES = 42;
constexpr DWORD HTTP_QUERY_SET_COOKIE = 43;
constexpr DWORD HTTP_QUERY_COOKIE = 44;
constexpr DWORD HTTP_QUERY_REQUEST_METHOD = 45;
constexpr DWORD HTTP_QUERY_CUSTOM = 65535;  // the header name is passed in the buffer
constexpr DWORD HTTP_QUERY_HEADER_MASK = 0x0000FFFF;
constexpr DWORD HTTP_QUERY_FLAG_REQUEST_HEADERS = 0x80000000;
constexpr DWORD HTTP_QUERY_FLAG_SYSTEMTIME = 0x40000000;
constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;
constexpr DWORD HTTP_QUERY_FLAG_COALESCE = 0x10000000;
constexpr DWORD HTTP_QUERY_MODIFIER_FLAGS_MASK = 0xF0000000;

constexpr DWORD HTTP_ADDREQ_FLAG_ADD_IF_NEW = 0x10000000;
constexpr DWORD HTTP_ADDREQ_FLAG_ADD = 0x20000000;
constexpr DWORD HTTP_ADDREQ_FLAG_COALESCE = 0x40000000;
constexpr DWORD HTTP_ADDREQ_FLAG_REPLACE = 0x80000000;

constexpr DWORD HTTP_STATUS_CONTINUE = 100;
constexpr DWORD HTTP_STATUS_OK = 200;
constexpr DWORD HTTP_STATUS_CREATED = 201;
constexpr DWORD HTTP_STATUS_ACCEPTED = 202;
constexpr DWORD HTTP_STATUS_NO_CONTENT = 204;
constexpr DWORD HTTP_STATUS_PARTIAL_CONTENT = 206;
constexpr DWORD HTTP_STATUS_AMBIGUOUS = 300;
constexpr DWORD HTTP_STATUS_MOVED = 301;
constexpr DWORD HTTP_STATUS_REDIRECT = 302;
constexpr DWORD HTTP_STATUS_REDIRECT_METHOD = 303;
constexpr DWORD HTTP_STATUS_NOT_MODIFIED = 304;
constexpr DWORD HTTP_STATUS_USE_PROXY = 305;
constexpr DWORD HTTP_STATUS_REDIRECT_KEEP_VERB = 307;
constexpr DWORD HTTP_STATUS_PERMANENT_REDIRECT = 308;
constexpr DWORD HTTP_STATUS_BAD_REQUEST = 400;
constexpr DWORD HTTP_STATUS_DENIED = 401;
constexpr DWORD HTTP_STATUS_PAYMENT_REQ = 402;
constexpr DWORD HTTP_STATUS_FORBIDDEN = 403;
constexpr DWORD HTTP_STATUS_NOT_FOUND = 404;
constexpr DWORD HTTP_STATUS_BAD_METHOD = 405;
constexpr DWORD HTTP_STATUS_NONE_ACCEPTABLE = 406;
constexpr DWORD HTTP_STATUS_PROXY_AUTH_REQ = 407;
constexpr DWORD HTTP_STATUS_REQUEST_TIMEOUT = 408;
constexpr DWORD HTTP_STATUS_CONFLICT = 409;
constexpr DWORD HTTP_STATUS_GONE = 410;
constexpr DWORD HTTP_STATUS_LENGTH_REQUIRED = 411;
constexpr DWORD HTTP_STATUS_PRECOND_FAILED = 412;
constexpr DWORD HTTP_STATUS_REQUEST_TOO_LARGE = 413;
constexpr DWORD HTTP_STATUS_URI_TOO_LONG = 414;
constexpr DWORD HTTP_STATUS_UNSUPPORTED_MEDIA = 415;
constexpr DWORD HTTP_STATUS_RANGE_NOT_SATISFIABLE = 416;
constexpr DWORD HTTP_STATUS_SERVER_ERROR = 500;
constexpr DWORD HTTP_STATUS_NOT_SUPPORTED = 501;
constexpr DWORD HTTP_STATUS_BAD_GATEWAY = 502;
constexpr DWORD HTTP_STATUS_SERVICE_UNAVAIL = 503;
constexpr DWORD HTTP_STATUS_GATEWAY_TIMEOUT = 504;
constexpr DWORD HTTP_STATUS_VERSION_NOT_SUP = 505;

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

constexpr DWORD FLAGS_ERROR_UI_FILTER_FOR_ERRORS = 0x01;
constexpr DWORD FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS = 0x02;
constexpr DWORD FLAGS_ERROR_UI_FLAGS_GENERATE_DATA = 0x04;
constexpr DWORD FLAGS_ERROR_UI_FLAGS_NO_UI = 0x08;

// ---- Error numbers ----------------------------------------------------------------------------
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_CANCELLED = 1223;

constexpr DWORD ERROR_INTERNET_OUT_OF_HANDLES = 12001;
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003;  // the server's text: InternetGetLastResponseInfoW
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_PROTOCOL_NOT_FOUND = 12008;
constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
constexpr DWORD ERROR_INTERNET_BAD_OPTION_LENGTH = 12010;
constexpr DWORD ERROR_INTERNET_OPTION_NOT_SETTABLE = 12011;
constexpr DWORD ERROR_INTERNET_SHUTDOWN = 12012;
constexpr DWORD ERROR_INTERNET_INCORRECT_USER_NAME = 12013;
constexpr DWORD ERROR_INTERNET_INCORRECT_PASSWORD = 12014;
constexpr DWORD ERROR_INTERNET_LOGIN_FAILURE = 12015;
constexpr DWORD ERROR_INTERNET_INVALID_OPERATION = 12016;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_INTERNET_NOT_PROXY_REQUEST = 12020;
constexpr DWORD ERROR_INTERNET_ITEM_NOT_FOUND = 12028;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;  // also: the body ended short of its length
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_INTERNET_FORCE_RETRY = 12032;
constexpr DWORD ERROR_INTERNET_INVALID_PROXY_REQUEST = 12033;
constexpr DWORD ERROR_INTERNET_HANDLE_EXISTS = 12036;
constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
constexpr DWORD ERROR_INTERNET_SEC_CERT_ERRORS = 12055;
constexpr DWORD ERROR_INTERNET_SEC_CERT_REV_FAILED = 12057;
constexpr DWORD ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;
constexpr DWORD ERROR_FTP_DROPPED = 12111;
constexpr DWORD ERROR_FTP_NO_PASSIVE_MODE = 12112;
constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_HTTP_DOWNLEVEL_SERVER = 12151;
constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_HTTP_INVALID_HEADER = 12153;
constexpr DWORD ERROR_HTTP_INVALID_QUERY_REQUEST = 12154;
constexpr DWORD ERROR_HTTP_HEADER_ALREADY_EXISTS = 12155;
constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
constexpr DWORD ERROR_HTTP_NOT_REDIRECTED = 12160;
constexpr DWORD ERROR_INTERNET_SEC_INVALID_CERT = 12169;
constexpr DWORD ERROR_INTERNET_SEC_CERT_REVOKED = 12170;
// Ours: an answer that is held in memory (a directory listing) passed its limit.
constexpr DWORD KTINET_ERROR_ANSWER_TOO_LARGE = 0x4B540101;
// Limits of a directory listing (FtpFindFirstFileW reads it whole): its text and its entries.
constexpr size_t KTINET_MAX_LISTING_BYTES = 64u << 20;
constexpr size_t KTINET_MAX_LISTING_ENTRIES = 1000000;

// ---- The last error and the last server response (per thread) ---------------------------------
// The error of the last Internet call of this thread (ERROR_SUCCESS after most calls that
// succeed). A call that fails also leaves its error number in errno, so the run-time's
// GetLastError() reads it as on Windows, until the next system call overwrites it; this one keeps
// it until the next Internet call.
DWORD InternetGetLastError();
void InternetSetLastError(DWORD error);
// The message text of an error number as the system would give it (clear English, no trailing line
// break); empty when there is no text for the number.
String InternetErrorMessage(DWORD error);
// The last response text of a server (the FTP reply lines, or the HTTP status line) and, in
// *error, the reply code when there is one. bufferLength is in characters; when the buffer is too
// small the call fails with ERROR_INSUFFICIENT_BUFFER and tells the length needed.
BOOL InternetGetLastResponseInfoW(DWORD* error, Char* buffer, DWORD* bufferLength);

// ---- Sessions and handles ---------------------------------------------------------------------
HINTERNET InternetOpenW(const Char* agent, DWORD accessType, const Char* proxy, const Char* proxyBypass,
                        DWORD flags);
// FTP: connects and logs on at once (fails with ERROR_INTERNET_LOGIN_FAILURE or a connection error).
// HTTP: nothing goes over the wire until a request is sent. user/password become basic
// authentication for the requests (HTTP) or the logon (FTP; "anonymous" when none).
HINTERNET InternetConnectW(HINTERNET session, const Char* serverName, INTERNET_PORT serverPort,
                           const Char* userName, const Char* password, DWORD service, DWORD flags,
                           DWORD_PTR context);
// Frees any handle; the children of a session or connection are closed with it.
BOOL InternetCloseHandle(HINTERNET handle);
// On a null handle the CA file, the time-outs, KTINET_OPTION_MAX_TIME and the security flags are
// settable: they become the defaults of every session opened afterwards in this process.
BOOL InternetSetOptionW(HINTERNET handle, DWORD option, const void* buffer, DWORD bufferLength);
// A GET of an http://, https:// or ftp:// URL; the answer is read with InternetReadFile.
// HTTP answers of any status give a handle (query it with HttpQueryInfoW); an answer whose
// Content-Length is no plain decimal number (or whose copies disagree) gives none
// (ERROR_HTTP_INVALID_HEADER), since its end could not be told.
HINTERNET InternetOpenUrlW(HINTERNET session, const Char* url, const Char* headers, DWORD headersLength,
                           DWORD flags, DWORD_PTR context);
// Copies up to bytesToRead bytes of the body. TRUE with *bytesRead == 0 is the end of the data; a
// failed transfer (connection reset, time-out, a body shorter than its Content-Length) is FALSE
// with the error set, never an end.
BOOL InternetReadFile(HINTERNET file, void* buffer, DWORD bytesToRead, DWORD* bytesRead);
// Moves the read position (FILE_BEGIN only; with distanceToMoveHigh null the distance is taken as
// an unsigned 32-bit count, so files of 2 to 4 GiB can be resumed). Returns the new position's low
// 32 bits, or INVALID_SET_FILE_POINTER.
// - HTTP request before HttpSendRequestW: the request asks for the body from that offset on (a
//   Range header); the answer's status tells whether the server obliged (206) or sends all (200).
// - HTTP request after HttpSendRequestW: the request is sent again with the Range header. When the
//   server answers 206 with a Content-Range that starts at the offset the call succeeds and the
//   body continues there; otherwise (another status, a range elsewhere or none) it fails
//   (ERROR_INTERNET_INVALID_OPERATION) and the handle holds the new answer (query its status: 200
//   means the whole body follows from byte 0, 416 that the offset lies beyond the end).
// - FTP file before its first read: the download restarts at the offset (REST).
DWORD InternetSetFilePointer(HINTERNET file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD moveMethod,
                             DWORD_PTR context);
// This platform has no error dialog: it returns ERROR_SUCCESS without asking anyone (a test
// backend may answer otherwise).
DWORD InternetErrorDlg(void* window, HINTERNET request, DWORD error, DWORD flags, void** data);

// ---- HTTP -------------------------------------------------------------------------------------
// verb: "GET" when null; version: "HTTP/1.1" when null; objectName: "/" when null.
// Redirects of GET and HEAD are followed (at most 5) unless INTERNET_FLAG_NO_AUTO_REDIRECT.
HINTERNET HttpOpenRequestW(HINTERNET connect, const Char* verb, const Char* objectName, const Char* version,
                           const Char* referrer, const Char* const* acceptTypes, DWORD flags, DWORD_PTR context);
// headers: one or more "Name: value" lines separated by CR LF; headersLength in characters, or
// -1 (0xFFFFFFFF) when zero-terminated.
BOOL HttpAddRequestHeadersW(HINTERNET request, const Char* headers, DWORD headersLength, DWORD modifiers);
// Sends the request and waits until the answer's status line and headers are in; the body is then
// pulled with InternetReadFile. An answer of any status is a success; FALSE means no answer.
// May be called again on the same handle (a new attempt, e.g. with credentials set).
BOOL HttpSendRequestW(HINTERNET request, const Char* headers, DWORD headersLength, const void* optional,
                      DWORD optionalLength);
// Reads the answer's status and headers. Texts are zero-terminated Char strings (*bufferLength in
// bytes: the space given, then the bytes written without the terminator, or the bytes needed with
// ERROR_INSUFFICIENT_BUFFER); HTTP_QUERY_FLAG_NUMBER gives a DWORD, HTTP_QUERY_FLAG_SYSTEMTIME a
// SYSTEMTIME (UTC). A missing header is ERROR_HTTP_HEADER_NOT_FOUND. index (optional) picks the
// n-th header of that name and is advanced.
BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* bufferLength, DWORD* index);

// ---- FTP --------------------------------------------------------------------------------------
// searchFile: a mask or name, optionally with a directory ("sub/*.txt"); null or empty means
// every entry of the current directory. The first entry goes to *findData; none is
// ERROR_NO_MORE_FILES. Only one find or file handle per connection at a time, as on Windows
// (ERROR_FTP_TRANSFER_IN_PROGRESS otherwise).
HINTERNET FtpFindFirstFileW(HINTERNET connect, const Char* searchFile, WIN32_FIND_DATAW* findData, DWORD flags,
                            DWORD_PTR context);
// findData points to a WIN32_FIND_DATAW. ERROR_NO_MORE_FILES after the last entry.
BOOL InternetFindNextFileW(HINTERNET find, void* findData);
// *length: characters in the buffer, then the characters written (without the terminator).
BOOL FtpGetCurrentDirectoryW(HINTERNET connect, Char* currentDirectory, DWORD* length);
// Fails (ERROR_INTERNET_EXTENDED_ERROR, the server's reply as the last response) when the
// directory does not exist; the current directory is unchanged then.
BOOL FtpSetCurrentDirectoryW(HINTERNET connect, const Char* directory);
// A download (GENERIC_READ) of a file; fails when the file does not exist. Size and time are known
// from the open on (FtpGetFileSize, FtpGetFileTime); the data flows on the first InternetReadFile.
HINTERNET FtpOpenFileW(HINTERNET connect, const Char* fileName, DWORD access, DWORD flags, DWORD_PTR context);
DWORD FtpGetFileSize(HINTERNET file, DWORD* fileSizeHigh);
// Ours: the last-write time (UTC) of an opened FTP file, from the server's MDTM; FALSE when the
// server does not tell it.
BOOL FtpGetFileTime(HINTERNET file, FILETIME* lastWriteTime);

// ---- The seam for tests -----------------------------------------------------------------------
// Every function above resolves its handle and calls the matching operation of the object behind
// it; InternetOpenW asks the current backend for a session object. A fake backend returns session
// objects of its own whose operations return objects of its own, and only overrides what it needs:
// the defaults fail with ERROR_INTERNET_INCORRECT_HANDLE_TYPE. Operations report failure by
// setting InternetSetLastError and returning false or null.
class TInternetHandle {
 public:
  virtual ~TInternetHandle() = default;
  virtual DWORD HandleType() const = 0;

  virtual std::unique_ptr<TInternetHandle> Connect(const String& serverName, INTERNET_PORT serverPort,
                                                   const Char* userName, const Char* password, DWORD service,
                                                   DWORD flags);
  virtual std::unique_ptr<TInternetHandle> OpenUrl(const String& url, const String& headers, DWORD flags);
  virtual std::unique_ptr<TInternetHandle> OpenRequest(const String& verb, const String& objectName,
                                                       const String& version, DWORD flags);
  virtual std::unique_ptr<TInternetHandle> FindFirstFile(const String& searchFile, WIN32_FIND_DATAW& findData,
                                                         DWORD flags);
  virtual std::unique_ptr<TInternetHandle> OpenFile(const String& fileName, DWORD access, DWORD flags);
  // option with its value: texts come as `text`, numbers as `number`.
  virtual bool SetOption(DWORD option, const String& text, DWORD number);
  virtual bool AddRequestHeaders(const String& headers, DWORD modifiers);
  virtual bool SendRequest(const String& headers, const void* body, DWORD bodyLength);
  // The text of a header or status item: infoLevel without FLAG_NUMBER/FLAG_SYSTEMTIME (those
  // conversions are done for every backend alike); customName for HTTP_QUERY_CUSTOM; index as in
  // HttpQueryInfoW (advance it on success).
  virtual bool QueryInfo(DWORD infoLevel, const String& customName, DWORD& index, String& value);
  virtual bool SetFilePointer(Int64 position);
  virtual bool ReadFile(void* buffer, DWORD bytesToRead, DWORD& bytesRead);
  virtual bool FindNextFile(WIN32_FIND_DATAW& findData);
  virtual bool GetCurrentDirectory(String& directory);
  virtual bool SetCurrentDirectory(const String& directory);
  // Size and time of an opened file: false when unknown.
  virtual bool GetFileSize(Int64& size);
  virtual bool GetFileTime(FILETIME& lastWriteTime);
  // Called before the children of this handle are closed (the handle closes with them).
  virtual void BeforeClose() {}
};

class TInternetBackend {
 public:
  virtual ~TInternetBackend() = default;
  virtual std::unique_ptr<TInternetHandle> Open(const String& agent, DWORD accessType, const String& proxy,
                                                const String& proxyBypass, DWORD flags) = 0;
  virtual DWORD ErrorDlg(TInternetHandle* /*request*/, DWORD /*error*/, DWORD /*flags*/) { return ERROR_SUCCESS; }
};

// Installs a backend for the sessions opened from now on (handles already open keep theirs) and
// returns the previous one; nullptr restores the libcurl backend. The caller keeps ownership.
// Meant for tests: not to be switched while other threads open sessions.
TInternetBackend* SetInternetBackend(TInternetBackend* backend);
TInternetBackend& LibcurlInternetBackend();

// Sets the thread's last response text (for backends).
void InternetSetLastResponseInfo(DWORD code, const String& text);

}  // namespace ktinet
