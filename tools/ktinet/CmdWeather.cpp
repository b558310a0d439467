// `ktinet weather`: TKtWeatherInfo from the command line, and its line in the demo.
#include <iostream>

#include "Cli.h"
#include "Demo.h"
#include "DemoServers.h"
#include "SocketOptions.h"
#include "protocols/KtIWeath.h"
#include "vcl/UiBackend.h"

namespace ktinet::cli {

namespace {

int RunWeather(const Args& args) {
  args.ExpectPositional(1, 1);
  ChooseBackendFromEnvironment();
  TKtWeatherInfo weather(nullptr);
  weather.SetZip(UTF8ToString(args.Positional()[0]));
  if (auto host = args.Get("--host")) weather.SetHost(UTF8ToString(*host));
  weather.SetPort(static_cast<int>(args.GetInt("--port", 80, 1, 65535)));
  ApplySocketOptions(args, weather);

  RunAskingProxyLogon(weather, [&] { return weather.Execute(); });
  if (!weather.LastError().empty()) {
    std::cerr << "ktinet weather: " << FailureText(weather) << "\n";
    return kExitFailed;
  }
  if (!weather.TemperatureFound()) {
    std::cerr << "ktinet weather: the page for " << args.Positional()[0] << " shows no temperature\n";
    return kExitFailed;
  }
  std::cout << weather.Temperature() << "\n";
  return kExitOk;
}

std::vector<Args::OptionSpec> WeatherOptions() {
  auto specs = SocketOptions();
  specs.push_back({"--host", "", true});
  specs.push_back({"--port", "", true});
  return specs;
}

DemoOutcome DemoWeather() {
  DemoServer site([](DemoConnection& conn) {
    std::string request = conn.ReceiveUntil("Keep-Alive\r\n\r\n");
    if (request.rfind("GET /weather/local/10001?lswe=10001&", 0) != 0) {
      conn.Send("HTTP/1.0 404 Not Found\r\n\r\n");
      return;
    }
    conn.Send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
              "<HTML><BODY><TABLE><TR><TD CLASS=obsTempTextA>-3&deg;F</TD>"
              "<TD CLASS=obsTextA>Light Snow</TD></TR></TABLE></BODY></HTML>\r\n");
  });
  TKtWeatherInfo weather(nullptr);
  weather.SetHost(UTF8ToString(DemoServer::Host()));
  weather.SetPort(site.Port());
  weather.SetZip(u"10001");
  weather.SetConnectTimeout(5000);
  weather.SetReadTimeout(5000);
  weather.Execute();

  DemoOutcome out;
  out.did = "conditions for ZIP 10001 from a weather page on 127.0.0.1:" + std::to_string(site.Port());
  if (!weather.LastError().empty()) {
    out.result = "error: " + UTF8Encode(weather.LastError());
  } else if (!weather.TemperatureFound() || weather.Temperature() != -3) {
    out.result = "unexpected temperature " + std::to_string(weather.Temperature());
  } else {
    out.ok = true;
    out.result = "temperature " + std::to_string(weather.Temperature());
  }
  return out;
}

}  // namespace

KTINET_COMMAND(Command{
    "weather", "print the current temperature for a postal code (TKtWeatherInfo)",
    std::string("Usage: ktinet weather ZIP [--host H] [--port P] [OPTIONS]\n\n"
                "Fetches the weather site's local page for ZIP and prints the temperature shown on\n"
                "it, in the site's unit. Exits 1 when the page shows none.\n\n"
                "  --host H            the weather site (www.weather.com)\n"
                "  --port P            its port (80)\n") +
        kSocketOptionsHelp,
    WeatherOptions(), RunWeather});

KTINET_DEMO_STEP(DemoStep{22, "TKtWeatherInfo", DemoWeather});

}  // namespace ktinet::cli
