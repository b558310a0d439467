// TKtWhoIs: the registration record of a domain name or IPv4 address over WHOIS (TCP port 43).
//
// Assigning Domain chooses the server from the domain's last label through an editable
// suffix=host table; Execute sends the query and returns the server's text as received.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/KtInBase.h"
#include "rtl/TypInfo.h"

namespace ktinet {

class TKtWhoIs : public TKtInetBase {
  KTINET_PUBLISHED(TKtWhoIs)
 public:
  explicit TKtWhoIs(TComponent* AOwner);
  ~TKtWhoIs() override;

  bool AutoSelectServer() const { return FAutoSelectServer; }
  void SetAutoSelectServer(bool Value) { FAutoSelectServer = Value; }
  const String& Domain() const { return FDomain; }
  // Chooses the server (when AutoSelectServer) only when the value differs from the current one.
  void SetDomain(const String& Value);
  TStrings* ServerList() const { return FServerList.get(); }
  void SetServerList(const TStrings* Value) { FServerList->Assign(Value); }

  // After the answer, follow referral lines ("refer:", "whois:", "Registrar WHOIS Server:",
  // "ReferralServer: whois://") to the server they name, at most three hops and never to a server
  // already asked; the answers are joined with a marker line naming each hop. Off by default.
  bool FollowReferrals() const { return FFollowReferrals; }
  void SetFollowReferrals(bool Value) { FFollowReferrals = Value; }
  // Sends a Domain with characters above 127 in its ASCII form (each such label as "xn--" and its
  // punycode). Off by default, so the query carries the domain unchanged.
  // The only port referrals are followed to (43, the WHOIS port, by default): a referral is text
  // anyone can put in a record, and one that names another port is not followed.
  int ReferralPort() const { return FReferralPort; }
  void SetReferralPort(int Value) { FReferralPort = Value; }
  bool ConvertIDN() const { return FConvertIDN; }
  void SetConvertIDN(bool Value) { FConvertIDN = Value; }

  // The most referral hops one Execute follows.
  static constexpr int MaxReferrals = 3;

 protected:
  String GetQuery() override;
  void AfterExecute(String& strReceived) override;
  // Only an answer that begins "HTTP/" (a proxy's refusal) is read for a 401, 404 or 407: a
  // record's first line ("domain: 401k.test") is no status line.
  bool StatusCheckApplies(std::string_view FirstLine) const override;

 private:
  // The domain as it goes on the wire.
  String QueryDomain() const;
  void FollowReferralChain(String& text);

  String FDomain;
  std::unique_ptr<TStringList> FServerList;
  bool FAutoSelectServer = true;
  bool FFollowReferrals = false;
  bool FConvertIDN = false;
  int FReferralPort = 43;
  bool FReferralHop = false;  // a referral server is being asked: the bare query suits them all
};

// The server named by the first referral line of a WHOIS answer that is not in `skip`
// (host names compared without regard to case); false when there is none. Port is always
// AllowedPort: a "whois://host:port" naming another port is passed over.
bool FindWhoisReferral(const String& Answer, const std::vector<String>& Skip, String& Host, int& Port,
                       int AllowedPort = 43);

// The ASCII form of an internationalised domain name: every label with a character above 127 is
// lower-cased (Latin, Greek and Cyrillic letters) and becomes "xn--" + its punycode (RFC 3492).
// ASCII labels pass unchanged. Raises EConvertError when a label cannot be encoded.
String DomainToAscii(const String& Domain);

// RFC 3492 encoding of a sequence of code points (no "xn--" prefix).
std::string PunycodeEncode(const std::u32string& Input);

}  // namespace ktinet
