// TKtInetSNTP: the current time from an SNTP/NTP server (RFC 4330), as local time.
//
// The exchange is one UDP datagram each way: the 48-byte client packet of GetQuery goes to
// Host/Address and Port (123), and the first reply from that address and port that is at least
// 48 bytes long, comes from a server (mode 4) and carries our transmit timestamp as its
// originate timestamp is taken; other datagrams are passed over while the wait lasts. The wait
// is ReadTimeout, or 5 seconds when that is 0, since a datagram can be lost. The proxy settings
// do not apply: a datagram cannot travel through the proxy's connection.
//
// The socket events fire as they can for a datagram exchange (Sender is the inner client
// socket, Socket its connection object, which stays closed since no TCP connection is made):
//   OnLookup      before Host (or Address) is resolved
//   OnConnecting  before the datagram socket is bound to the server's address
//   OnConnect     once it is (Connected() is then true)
//   OnSendTextToSocket       after the request datagram has gone
//   OnReceiveTextFromSocket  for every datagram that arrives, before it is checked
//   OnDisconnect  when Disconnect closes the datagram socket
//   OnError       a failed look-up (eeLookup), socket or bind (eeConnect), send (eeSend) or a
//                 refusal reported by the server's host (eeReceive, "connection refused"); a
//                 handler that sets the code to 0 turns the failure into "no answer"
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/KtInBase.h"
#include "rtl/DateTime.h"
#include "rtl/TypInfo.h"

namespace ktinet {

// The fields of an SNTP reply that the component reads, from the reply's first 48 bytes.
struct TSNTPReply {
  int Leap = 0;     // leap indicator, bits 7-6 of byte 0
  int Mode = 0;     // bits 2-0 of byte 0; 4 for a server
  int Stratum = 0;  // byte 1
  std::uint32_t OriginateSeconds = 0, OriginateFraction = 0;  // offset 24: our transmit time, echoed
  std::uint32_t Seconds = 0, Fraction = 0;                    // offset 40: the server's transmit time
};

// Reads the fields of Reply (bytes as sent); false when it is shorter than 48 bytes.
bool ReadSNTPReply(const std::string& Reply, TSNTPReply& Out);
// Whether a reply's time may be taken: leap indicator not 3, stratum 1 to 15, a time not zero.
bool SNTPReplyUsable(const TSNTPReply& Reply);

class TKtInetSNTP : public TKtInetBase {
  KTINET_PUBLISHED(TKtInetSNTP)
 public:
  explicit TKtInetSNTP(TComponent* AOwner);
  ~TKtInetSNTP() override;

  // The server's transmit time in local time; 0 when there was no valid answer (none in time,
  // leap indicator 3, stratum 0 or above 15, a zero time). Every read performs an exchange.
  TDateTime DateTime() { return GetDateTime(); }

  // The local clock's bias in days: local time + bias = UTC.
  double TimeZoneBias() const;
  // The longest reply taken: room for extension fields and a MAC after the 48 bytes. A longer
  // datagram from the server ends Execute with an error text.
  static constexpr int MaxReply = 2048;

  // Reverses the order of the four bytes.
  static Integer SwapBytes(Integer Value);
  // A 64-bit NTP timestamp (both halves as they were read, unsigned on the wire) as local time
  // with millisecond resolution. A seconds field with its top bit clear lies in 2036-2104 (NTP
  // era 1), one with the bit set in 1968-2036.
  TDateTime NTPTimestamp2DateTime(Integer Seconds, Integer Fraction) const;

  // The 48-byte client request, one character per byte, stamped with the current time.
  String GetQuery() override;

  // Opens the datagram socket to the server; returns at once when it is open.
  void Connect() override;
  void Disconnect() override;

 protected:
  // Sends the request and returns the accepted reply (one character per byte), or an empty
  // text when none came in time.
  String InternalExecute() override;
  virtual TDateTime GetDateTime();

 private:
  class TDatagram;
  // Fires OnError; raises ESocketError unless the handler set the code to 0.
  void Fail(TErrorEvent Kind, int Code, const char* Api);
  bool AcceptableReply(const std::string& Reply, const std::string& Request) const;

  std::unique_ptr<TDatagram> FDatagram;
};

}  // namespace ktinet
