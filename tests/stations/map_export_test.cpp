// GeoJSON and GPX of messages with positions, checked by parsers.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "decoder/cp932.h"
#include "stations/map_export.h"

namespace brontel::stations {
namespace {

std::vector<TMapItem> Items()
{
  msg::TMessage wreck, area, plain, odd;
  wreck.Id = "KA12";
  wreck.Start = 1767268800.0;  // 2026-01-01T12:00:00Z
  wreck.Text = "WRECK IN 34-10N 139-02E.";
  area.Id = "IA05";
  area.Start = 1767268800.0;
  EXPECT_TRUE(Utf8ToCp932("射撃訓練 北緯３４度１０分 東経１３９度０２分 から 34-20S 012-30W まで", area.Text));
  plain.Id = "KE01";
  plain.Text = "NO POSITIONS HERE.";
  odd.Id = "OA01";
  odd.Text = std::string("A & B <C> \"D\" \x07 50-35N 001-18W");
  return {MapItem(wreck, "Kushiro"), MapItem(area, "Yokohama"), MapItem(plain, "K"), MapItem(odd, "Portpatrick")};
}

TEST(MapExport, GeoJsonParses)
{
  const nlohmann::json doc = nlohmann::json::parse(GeoJson(Items()));
  EXPECT_EQ(doc["type"], "FeatureCollection");
  const nlohmann::json& f = doc["features"];
  ASSERT_EQ(f.size(), 3u) << "the message without positions is left out";
  EXPECT_EQ(f[0]["geometry"]["type"], "Point");
  // GeoJSON puts longitude first.
  EXPECT_NEAR(f[0]["geometry"]["coordinates"][0].get<double>(), 139 + 2.0 / 60, 1e-9);
  EXPECT_NEAR(f[0]["geometry"]["coordinates"][1].get<double>(), 34 + 10.0 / 60, 1e-9);
  EXPECT_EQ(f[0]["properties"]["id"], "KA12");
  EXPECT_EQ(f[0]["properties"]["station"], "Kushiro");
  EXPECT_EQ(f[0]["properties"]["start"], "2026-01-01T12:00:00Z");
  EXPECT_EQ(f[1]["geometry"]["type"], "MultiPoint");
  ASSERT_EQ(f[1]["geometry"]["coordinates"].size(), 2u);
  EXPECT_NEAR(f[1]["geometry"]["coordinates"][1][0].get<double>(), -12.5, 1e-9);
  EXPECT_NEAR(f[1]["geometry"]["coordinates"][1][1].get<double>(), -(34 + 20.0 / 60), 1e-9);
  EXPECT_EQ(f[1]["properties"]["text"].get<std::string>().substr(0, 12), "射撃訓練");
}

TEST(MapExport, GpxIsWellFormed)
{
  const std::string path = ::testing::TempDir() + "brontel_map_export.gpx";
  {
    std::ofstream out(path);
    out << Gpx(Items());
  }
  // A command's standard output without the final line end, and its exit status.
  auto run = [](const std::string& cmd) {
    std::string out;
    int status = -1;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
      char buf[256];
      while (std::fgets(buf, sizeof buf, p)) out += buf;
      status = ::pclose(p);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return std::make_pair(out, status);
  };
  ASSERT_EQ(run("command -v xmllint >/dev/null 2>&1").second, 0) << "xmllint (libxml2-utils) is needed";
  EXPECT_EQ(run("xmllint --noout '" + path + "' 2>&1"), std::make_pair(std::string(), 0));
  auto query = [&](const std::string& q) { return run("xmllint --xpath \"" + q + "\" '" + path + "' 2>&1").first; };
  EXPECT_EQ(query("count(//*[local-name()='wpt'])"), "4");
  EXPECT_EQ(query("string((//*[local-name()='wpt'])[1]/@lat)"), "34.166667");
  EXPECT_EQ(query("string((//*[local-name()='wpt'])[3]/*[local-name()='name'])"), "IA05/2");
  EXPECT_EQ(query("string((//*[local-name()='wpt'])[4]/@lon)"), "-1.300000");
  EXPECT_EQ(query("string((//*[local-name()='wpt'])[1]/*[local-name()='time'])"), "2026-01-01T12:00:00Z");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace brontel::stations
