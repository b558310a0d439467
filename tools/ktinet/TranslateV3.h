// `ktinet translate|detect|languages --api v3`: the Translator V3 component (TKtTranslatorV3)
// behind the translator subcommands, which keep their earlier form without --api.
#pragma once

#include <string>
#include <vector>

#include "Cli.h"

namespace ktinet::cli {

// --api, and the options that only the V3 form takes (key, region, base URL, --json ...).
std::vector<Args::OptionSpec> TranslatorV3Options(bool withTextType);
std::string TranslatorV3Help(bool withTextType);

// True for --api v3, false for none or --api v2; UsageError for any other value, or for an
// option of the other form.
bool WantsTranslatorV3(const Args& args, const std::string& command);

int RunTranslateV3(const Args& args);
int RunDetectV3(const Args& args);
int RunLanguagesV3(const Args& args);

}  // namespace ktinet::cli
