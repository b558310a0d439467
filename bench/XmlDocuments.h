// The generated documents of the XML benchmarks, shared by bench_xml and the instruction and
// interleaved-time comparison of compare_xml_speed.sh:
//  - "nested": elements nested a few levels with attributes and text values with entities;
//  - "service": a long tracking answer of many small elements.
// Both are deterministic (fixed seeds) and at least `size` bytes long.
#pragma once

#include <cstddef>
#include <random>
#include <string>

inline std::string NestedDocument(size_t size) {
  std::mt19937 rng(7);
  std::string s = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<catalog generated=\"2026-12-07\">\n";
  s.reserve(size + 4096);
  const char* words[] = {"alpha", "beta", "gamma", "delta", "ship", "parcel", "route", "depot", "scan", "north"};
  int section = 0, item = 0;
  while (s.size() < size) {
    s += "  <section id=\"s" + std::to_string(++section) + "\" kind=\"" + words[rng() % 10] + "\">\n";
    for (int k = 0; k < 20; ++k) {
      s += "    <item id=\"i" + std::to_string(++item) + "\" price=\"" + std::to_string(rng() % 10000) +
           ".50\" currency=\"EUR\">\n      <title lang=\"en\">";
      s += words[rng() % 10];
      s += " &amp; ";
      s += words[rng() % 10];
      s += "</title>\n      <desc>Text &lt;b&gt;with&lt;/b&gt; entities &quot;";
      s += words[rng() % 10];
      s += "&quot; and 20&#176;C</desc>\n      <tags><tag n=\"1\">";
      s += words[rng() % 10];
      s += "</tag><tag n=\"2\">";
      s += words[rng() % 10];
      s += "</tag></tags>\n      <stock><depot code=\"D" + std::to_string(rng() % 100) + "\"><count>" +
           std::to_string(rng() % 500) + "</count></depot></stock>\n    </item>\n";
    }
    s += "  </section>\n";
  }
  s += "</catalog>\n";
  return s;
}

inline std::string ServiceDocument(size_t size) {
  std::mt19937 rng(8);
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TrackResponse><Response><ResponseStatusCode>1</ResponseStatusCode>"
      "<ResponseStatusDescription>Success</ResponseStatusDescription></Response><Shipment><Package>"
      "<TrackingNumber>1Z12345E0291980793</TrackingNumber>\n";
  s.reserve(size + 4096);
  const char* cities[] = {"LOS ANGELES", "MUENCHEN", "KOELN", "NEW YORK", "LOUISVILLE", "PARIS", "MADRID"};
  while (s.size() < size) {
    s += "<Activity><ActivityLocation><Address><City>";
    s += cities[rng() % 7];
    s += "</City><StateProvinceCode>CA</StateProvinceCode><CountryCode>US</CountryCode></Address>"
         "<Code>ML</Code><Description>FRONT DOOR</Description></ActivityLocation><Status><StatusType><Code>I</Code>"
         "<Description>ARRIVAL SCAN</Description></StatusType><StatusCode><Code>AR</Code></StatusCode></Status>"
         "<Date>201005" + std::to_string(10 + rng() % 20) + "</Date><Time>" + std::to_string(100000 + rng() % 100000) +
         "</Time></Activity>\n";
  }
  s += "</Package></Shipment></TrackResponse>\n";
  return s;
}
