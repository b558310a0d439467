// The carriers' JSON tracking answers over arbitrary bytes: both trackers' readers, the error
// documents' words and the token answer. A reader that fails must say why; one that succeeds
// must give the same results when it reads the same answer again, and never more activities
// than the answer has bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "services/KtOAuth.h"
#include "services/KtRestTrackers.h"

using namespace ktinet;

namespace {

std::string Fingerprint(const TKtRestTracker& t) {
  std::string f = UTF8Encode(t.StatusCode() + t.StatusDescription() + t.SignedForByName() + t.DeliveryLocation() +
                             t.ServiceCode() + t.ShipmentWeight() + t.ShipperAddress()->Text() + t.ShipToAddress()->Text());
  f += std::to_string(t.DeliveryDate()) + std::to_string(t.PickupDate()) + (t.Delivered() ? "D" : "-");
  for (int i = 0; i < t.Activities()->Count(); ++i) {
    const TKtInetActivity& a = *t.Activities()->Items(i);
    f += UTF8Encode(a.StatusTypeCode() + a.StatusTypeDescription() + a.Location()->Text()) + std::to_string(a.DateTime());
  }
  return f;
}

void Check(TKtRestTracker& t, const std::string& answer) {
  if (!t.LoadResponse(answer)) {
    if (t.ServiceError().empty()) std::abort();
    return;
  }
  if (static_cast<size_t>(t.Activities()->Count()) > answer.size()) std::abort();
  const std::string first = Fingerprint(t);
  if (!t.LoadResponse(answer) || Fingerprint(t) != first) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  static TKtUPSRestTracker* ups = [] {
    auto* t = new TKtUPSRestTracker(nullptr);
    t->SetTrackingNumber(u"1Z5338FF0107231059");
    return t;
  }();
  static TKtFedExRestTracker* fedex = [] {
    auto* t = new TKtFedExRestTracker(nullptr);
    t->SetTrackingNumber(u"123456789012");
    return t;
  }();
  Check(*ups, answer);
  Check(*fedex, answer);
  (void)RestErrorText(answer);
  TKtOAuthToken token;
  TKtRestAnswer reply;
  reply.Status = 200;
  reply.Body = answer;
  String error;
  const bool taken = token.Accept(reply, 0, error);
  if (taken == !error.empty() || (taken && token.AccessToken().empty())) std::abort();
  return 0;
}
