// The Translator V3 answer readers over arbitrary bytes: the first byte picks the reader and the
// count of texts; the rest is the answer. A reader that succeeds returns exactly one result per
// text, and one that fails returns none.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "services/KtTranslatorV3.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string answer(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t texts = data[0] >> 2;
  ktinet::String error;
  switch (data[0] & 3) {
    case 0: {
      std::vector<ktinet::TKtTranslationResult> out;
      const bool ok = ktinet::ParseTranslatorV3Translations(answer, texts, out, error);
      if (ok ? out.size() != texts : !out.empty() || error.empty()) std::abort();
      break;
    }
    case 1: {
      std::vector<ktinet::TKtLanguageDetection> out;
      const bool ok = ktinet::ParseTranslatorV3Detections(answer, texts, out, error);
      if (ok ? out.size() != texts : !out.empty() || error.empty()) std::abort();
      break;
    }
    case 2: {
      std::vector<ktinet::TKtTranslatorLanguage> out;
      const bool ok = ktinet::ParseTranslatorV3Languages(answer, out, error);
      if (!ok && (!out.empty() || error.empty())) std::abort();
      for (const auto& l : out)
        if (l.Code.empty()) std::abort();
      break;
    }
    default: {
      ktinet::String code, message;
      if (ktinet::ParseTranslatorV3Error(answer, code, message) && code.empty() && message.empty()) std::abort();
      break;
    }
  }
  return 0;
}
