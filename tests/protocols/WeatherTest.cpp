#include <gtest/gtest.h>

#include "protocols/KtIWeath.h"
#include "support/ScriptedServer.h"

namespace ktinet {
namespace {

using test::Script;
using test::ScriptedServer;

// The site's page as it carried the current conditions.
std::string Page(const std::string& afterMarker) {
  return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
         "<HTML><BODY><TABLE><TR><TD VALIGN=top CLASS=obsTempTextA>" + afterMarker +
         "</TD></TR></TABLE></BODY></HTML>\r\n";
}

TEST(Weather, RequestLineAsTheSiteExpectsIt) {
  TKtWeatherInfo w(nullptr);
  EXPECT_EQ(w.Host(), u"www.weather.com");
  EXPECT_EQ(w.Port(), 80);
  EXPECT_EQ(w.TrackingType(), wttZip);

  ScriptedServer server;
  server.Add(Script().ReadUntil("Keep-Alive\r\n\r\n").Send(Page("71&deg;F")));
  w.SetHost(u"localhost");
  w.SetPort(server.Port());
  w.SetZip(u"New York NY");
  String page = w.Execute();
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(server.Received(0),
            "GET /weather/local/New%20York%20NY?lswe=New%20York%20NY&lswa=WeatherLocalUndeclared&GO=GO&whatprefs="
            "   HTTP/1.0\r\nHost: localhost:" +
                std::to_string(server.Port()) + "\r\n\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(StringToBytes(page), Page("71&deg;F")) << "the page comes back whole, headers included";
  EXPECT_EQ(w.Temperature(), 71);
  EXPECT_TRUE(w.TemperatureFound());
}

TEST(Weather, LineBreaksInTheZipAreRefusedBeforeSending) {
  ScriptedServer server;
  server.SetDefault(Script().ReadUntilClose());
  TKtWeatherInfo w(nullptr);
  w.SetHost(u"localhost");
  w.SetPort(server.Port());
  for (const String& zip : {String(u"10001\r\nX-Injected: 1"), String(u"10001\nX"), String(u"1\0", 2)}) {
    w.SetZip(zip);
    String result = w.Execute();
    EXPECT_NE(result.find(u"The Zip holds"), String::npos) << UTF8Encode(result);
    EXPECT_EQ(w.LastError(), result);
    EXPECT_FALSE(w.TemperatureFound());
  }
  w.Disconnect();
  server.Stop();
  for (size_t i = 0; i < server.ConnectionCount(); ++i) EXPECT_EQ(server.Received(i), "");
}

TEST(Weather, TemperatureFollowsTheMarker) {
  struct Case {
    std::string afterMarker;
    int temperature;
    bool found;
  } cases[] = {
      {"-5&deg;", -5, true},  {"72</B>", 72, true}, {"F", 0, false},
      {"-&deg;", 0, false},   {"0&deg;", 0, true},  {"", 0, false},
  };
  ScriptedServer server;
  for (const Case& c : cases) server.Add(Script().ReadUntil("Keep-Alive\r\n\r\n").Send(Page(c.afterMarker)));
  server.Add(Script().ReadUntil("Keep-Alive\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\n<html>class=obsTempTextA>12</html>"));
  server.Add(Script().ReadUntil("Keep-Alive\r\n\r\n").Send(Page("33")));
  server.Add(Script().ReadUntil("Keep-Alive\r\n\r\n").Send("HTTP/1.0 404 Not Found\r\n\r\n"));
  server.Add(Script().ReadUntil("Keep-Alive\r\n\r\n").Send(Page("40")));

  TKtWeatherInfo w(nullptr);
  w.SetHost(u"127.0.0.1");
  w.SetPort(server.Port());
  w.SetZip(u"10001");
  for (const Case& c : cases) {
    w.Execute();
    EXPECT_EQ(w.Temperature(), c.temperature) << c.afterMarker;
    EXPECT_EQ(w.TemperatureFound(), c.found) << c.afterMarker;
  }
  w.Execute();
  EXPECT_EQ(w.Temperature(), 0) << "the marker is case-sensitive";
  w.Execute();
  EXPECT_EQ(w.Temperature(), 33);
  EXPECT_EQ(w.Execute(), u"File not found");
  EXPECT_EQ(w.Temperature(), 0) << "an error text leaves no reading from before";
  EXPECT_FALSE(w.TemperatureFound());
  w.Execute();
  EXPECT_EQ(w.Temperature(), 40) << "the next query after an error goes out on a new connection";
  EXPECT_EQ(server.ConnectionCount(), 10u);
}

}  // namespace
}  // namespace ktinet
