#include "script/report_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "engine/rate_text.h"
#include "engine/size_text.h"
#include "platform/ascii.h"
#include "platform/atomic_file.h"
#include "platform/path.h"
#include "script/run_report.h"
#include "script/script_keys.h"
#include "script/script_log.h"

namespace quillet {
namespace {

using nlohmann::ordered_json;

std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string number(double v, int decimals = 1) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::string sizeText(double bytes) {
  return formatSize(static_cast<std::int64_t>(std::max(0.0, std::min(bytes, 9.0e18))));
}

// The classes' colours, shared by the map and its legend.
const char* classColour(const std::string& name) {
  if (name == "ok") return "#4caf50";
  if (name == "corrupted") return "#e53935";
  if (name == "misdirected") return "#8e24aa";
  if (name == "stale") return "#fb8c00";
  if (name == "zeroed") return "#757575";
  return "#3949ab";
}

constexpr const char* kLineColours[] = {"#1565c0", "#c62828", "#2e7d32", "#ef6c00", "#6a1b9a",
                                        "#00838f", "#ad1457", "#4e342e", "#283593", "#9e9d24"};

struct Line {
  std::string name;
  std::vector<std::pair<double, double>> points;
};

enum class Axis { Seconds, Bytes, BytesPerSecond, FilesPerSecond };

double niceStep(double top);

// Sizes step by round amounts of their own unit (256 Mb, not 250,000,000 bytes).
double niceStep(double top, Axis axis) {
  if (axis != Axis::Bytes && axis != Axis::BytesPerSecond) return niceStep(top);
  double unit = 1;
  while (top / unit >= 1024 && unit < 1e18) unit *= 1024;
  const double raw = top / unit / 4;
  for (double m : {0.25, 0.5, 1.0, 2.0, 4.0, 8.0, 16.0, 32.0, 64.0, 128.0, 256.0, 512.0}) {
    if (m * unit >= raw * unit) return m * unit;
  }
  return 1024 * unit;
}

// A round step that cuts 0..top into about four parts.
double niceStep(double top) {
  if (!(top > 0)) return 1;
  const double raw = top / 4;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

std::string axisText(Axis axis, double v, double step) {
  switch (axis) {
    case Axis::Seconds: return number(v, step >= 1 ? 0 : step >= 0.1 ? 1 : step >= 0.01 ? 2 : 3) + " s";
    case Axis::Bytes: return sizeText(v);
    case Axis::BytesPerSecond: return sizeText(v) + "/s";
    case Axis::FilesPerSecond: return (v >= 10 ? groupThousands(std::llround(v)) : number(v)) + "/s";
  }
  return number(v);
}

// One line chart: axes from zero, a grid, one polyline per line (a point per sample).
std::string lineChart(const std::string& id, const std::string& title, Axis xAxis, Axis yAxis,
                      const std::vector<Line>& lines) {
  constexpr double kWidth = 760, kHeight = 260, kLeft = 86, kRight = 34, kTop = 28, kBottom = 40;
  double xMax = 0, yMax = 0;
  for (const Line& l : lines) {
    for (const auto& [x, y] : l.points) xMax = std::max(xMax, x), yMax = std::max(yMax, y);
  }
  const double xStep = niceStep(xMax, xAxis), yStep = niceStep(yMax, yAxis);
  const double xTop = std::max(xStep, std::ceil(xMax / xStep) * xStep);
  const double yTop = std::max(yStep, std::ceil(yMax / yStep) * yStep);
  const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
  const auto px = [&](double x) { return kLeft + x / xTop * plotW; };
  const auto py = [&](double y) { return kTop + plotH - y / yTop * plotH; };
  std::ostringstream s;
  s << "<figure><svg id=\"" << id << "\" class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 "
    << kWidth << ' ' << kHeight << "\" width=\"" << kWidth << "\" height=\"" << kHeight << "\" role=\"img\">"
    << "<title>" << escape(title) << "</title>"
    << "<text x=\"" << kLeft << "\" y=\"16\" class=\"title\">" << escape(title) << "</text>";
  for (double x = 0; x <= xTop + xStep / 2; x += xStep) {
    s << "<line class=\"grid\" x1=\"" << number(px(x)) << "\" y1=\"" << kTop << "\" x2=\"" << number(px(x))
      << "\" y2=\"" << kTop + plotH << "\"/><text class=\"tick\" x=\"" << number(px(x)) << "\" y=\""
      << kTop + plotH + 16 << "\" text-anchor=\"middle\">" << escape(axisText(xAxis, x, xStep)) << "</text>";
  }
  for (double y = 0; y <= yTop + yStep / 2; y += yStep) {
    s << "<line class=\"grid\" x1=\"" << kLeft << "\" y1=\"" << number(py(y)) << "\" x2=\"" << kLeft + plotW
      << "\" y2=\"" << number(py(y)) << "\"/><text class=\"tick\" x=\"" << kLeft - 6 << "\" y=\""
      << number(py(y) + 4) << "\" text-anchor=\"end\">" << escape(axisText(yAxis, y, yStep)) << "</text>";
  }
  s << "<rect class=\"frame\" x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << plotW << "\" height=\""
    << plotH << "\"/>";
  std::size_t colour = 0;
  for (const Line& l : lines) {
    s << "<polyline class=\"series\" data-name=\"" << escape(l.name) << "\" data-samples=\""
      << l.points.size() << "\" stroke=\"" << kLineColours[colour++ % std::size(kLineColours)]
      << "\" points=\"";
    for (const auto& [x, y] : l.points) s << number(px(x), 2) << ',' << number(py(y), 2) << ' ';
    s << "\"><title>" << escape(l.name) << "</title></polyline>";
    // A few samples (a short run) are shown as dots too: a lone one draws no line.
    if (l.points.size() <= 40) {
      for (const auto& [x, y] : l.points) {
        s << "<circle class=\"dot\" cx=\"" << number(px(x), 2) << "\" cy=\"" << number(py(y), 2)
          << "\" r=\"3\" fill=\"" << kLineColours[(colour - 1) % std::size(kLineColours)] << "\"/>";
      }
    }
  }
  s << "</svg>";
  if (lines.size() > 1) {
    s << "<figcaption>";
    colour = 0;
    for (const Line& l : lines) {
      s << "<span class=\"key\" style=\"background:" << kLineColours[colour++ % std::size(kLineColours)]
        << "\"></span>" << escape(l.name) << ' ';
    }
    s << "</figcaption>";
  }
  s << "</figure>\n";
  return s.str();
}

std::string jsonText(const ordered_json& v) {
  if (v.is_null()) return "-";
  if (v.is_string()) return v.get<std::string>();
  if (v.is_boolean()) return v.get<bool>() ? "yes" : "no";
  if (v.is_number_integer() || v.is_number_unsigned()) return groupThousands(v.get<std::int64_t>());
  if (v.is_number_float()) return number(v.get<double>(), 3);
  return v.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::int64_t integer(const ordered_json& j, const char* key) {
  if (!j.is_object() || !j.contains(key)) return 0;
  const ordered_json& v = j[key];
  if (v.is_number()) return v.get<std::int64_t>();
  // Large figures may come as decimal text, which a JSON number would round.
  if (v.is_string()) {
    try {
      return std::stoll(v.get<std::string>());
    } catch (...) {
      return 0;
    }
  }
  return 0;
}

double real(const ordered_json& j, const char* key) {
  return j.is_object() && j.contains(key) && j[key].is_number() ? j[key].get<double>() : 0.0;
}

std::string row(const std::string& name, const std::string& value) {
  return "<tr><th>" + escape(name) + "</th><td>" + escape(value) + "</td></tr>";
}

std::string seriesCharts(const ordered_json& series, bool verify) {
  const ordered_json& samples = series["samples"];
  if (!samples.is_array() || samples.empty()) return "<p>No samples were taken.</p>\n";
  Line overTime{verify ? "read rate" : "write rate", {}}, overBytes{overTime.name, {}}, files{"files/s", {}};
  Line damaged{"damaged bytes", {}};
  std::vector<Line> shares;
  std::vector<std::int64_t> sharesBefore;
  for (const ordered_json& s : samples) {
    const double t = real(s, "elapsed_seconds");
    const double interval = real(s, "interval_seconds");
    const double rate = real(s, "interval_bytes_per_second");
    overTime.points.emplace_back(t, rate);
    overBytes.points.emplace_back(static_cast<double>(integer(s, "bytes")), rate);
    files.points.emplace_back(t, real(s, "interval_files_per_second"));
    if (verify) damaged.points.emplace_back(t, static_cast<double>(integer(s, "damaged_bytes")));
    if (s.contains("shares_bytes") && s["shares_bytes"].is_array()) {
      const auto& a = s["shares_bytes"];
      if (shares.size() < a.size()) {
        for (std::size_t i = shares.size(); i < a.size(); ++i) {
          shares.push_back({(verify ? "reader " : "writer ") + std::to_string(i + 1), {}});
        }
        sharesBefore.resize(a.size(), 0);
      }
      for (std::size_t i = 0; i < a.size(); ++i) {
        const std::int64_t now = a[i].is_number() ? a[i].get<std::int64_t>() : 0;
        shares[i].points.emplace_back(
            t, interval > 0 ? static_cast<double>(now - sharesBefore[i]) / interval : 0.0);
        sharesBefore[i] = now;
      }
    }
  }
  std::string out;
  const std::string what = verify ? "Read rate" : "Write rate";
  out += lineChart("rate-time", what + " over time", Axis::Seconds, Axis::BytesPerSecond, {overTime});
  out += lineChart("rate-bytes", what + " over bytes " + (verify ? "read" : "written"), Axis::Bytes,
                   Axis::BytesPerSecond, {overBytes});
  out += lineChart("files-time", verify ? "Files checked per second" : "Files per second", Axis::Seconds,
                   Axis::FilesPerSecond, {files});
  if (verify) out += lineChart("damage-time", "Damage found so far", Axis::Seconds, Axis::Bytes, {damaged});
  if (!shares.empty()) {
    out += lineChart("shares-time", verify ? "Each reader's rate" : "Each writer's rate", Axis::Seconds,
                     Axis::BytesPerSecond, shares);
  }
  return out;
}

// One bar per file, its damaged ranges drawn at their offsets in their classes' colours.
std::string damageMap(const ordered_json& verify) {
  const ordered_json& files = verify["damaged_files"];
  if (!files.is_array() || files.empty()) return "<p>No damaged file.</p>\n";
  constexpr double kWidth = 760, kLabel = 220, kRowH = 22;
  const std::size_t shown = std::min<std::size_t>(files.size(), 200);
  std::ostringstream s;
  s << "<svg id=\"damage-map\" class=\"map\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << kWidth
    << ' ' << kRowH * static_cast<double>(shown) + 8 << "\" width=\"" << kWidth << "\" height=\""
    << kRowH * static_cast<double>(shown) + 8 << "\">";
  for (std::size_t i = 0; i < shown; ++i) {
    const ordered_json& f = files[i];
    const double y = 4 + kRowH * static_cast<double>(i);
    double length =
        static_cast<double>(std::max(integer(f, "length_bytes"), integer(f, "carried_size_bytes")));
    for (const ordered_json& r : f["ranges"]) {
      length = std::max(length, static_cast<double>(integer(r, "offset_bytes") + integer(r, "length_bytes")));
    }
    const std::string path = f.value("path", std::string());
    s << "<text class=\"tick\" x=\"0\" y=\"" << y + 14 << "\">"
      << escape(path.size() > 34 ? "..." + path.substr(path.size() - 31) : path)
      << "</text><rect class=\"file\" x=\"" << kLabel << "\" y=\"" << y + 2 << "\" width=\""
      << kWidth - kLabel << "\" height=\"" << kRowH - 6 << "\"><title>" << escape(path) << ": "
      << groupThousands(std::llround(length)) << " bytes</title></rect>";
    for (const ordered_json& r : f["ranges"]) {
      const double offset = static_cast<double>(integer(r, "offset_bytes"));
      const double len = static_cast<double>(integer(r, "length_bytes"));
      const std::string kind = r.value("class", std::string("unrecognised"));
      const double x = kLabel + (length > 0 ? offset / length : 0) * (kWidth - kLabel);
      const double w = std::max(2.0, (length > 0 ? len / length : 1) * (kWidth - kLabel));
      s << "<rect class=\"range\" data-class=\"" << escape(kind) << "\" x=\"" << number(x, 2) << "\" y=\""
        << y + 2 << "\" width=\"" << number(w, 2) << "\" height=\"" << kRowH - 6 << "\" fill=\""
        << classColour(kind) << "\"><title>"
        << escape(path + " at " + groupThousands(std::llround(offset)) + ": " + kind + " (" +
                  groupThousands(std::llround(len)) + " bytes)")
        << "</title></rect>";
    }
  }
  s << "</svg>";
  if (files.size() > shown)
    s << "<p>" << groupThousands(static_cast<std::int64_t>(files.size() - shown))
      << " more files not drawn.</p>";
  s << "<p>";
  for (const char* kind : {"corrupted", "misdirected", "stale", "zeroed", "unrecognised"}) {
    s << "<span class=\"key\" style=\"background:" << classColour(kind) << "\"></span>" << kind << ' ';
  }
  s << "</p>\n";
  return s.str();
}

std::string capacityBar(std::int64_t intact, std::int64_t claimed) {
  constexpr double kWidth = 760;
  const double whole = static_cast<double>(std::max(intact, claimed));
  const double w = whole > 0 ? static_cast<double>(intact) / whole * kWidth : 0;
  std::ostringstream s;
  s << "<svg id=\"capacity\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << kWidth
    << " 30\" width=\"" << kWidth << "\" height=\"30\"><rect class=\"file\" x=\"0\" y=\"4\" width=\""
    << kWidth << "\" height=\"22\"/><rect x=\"0\" y=\"4\" width=\"" << number(w, 2)
    << "\" height=\"22\" fill=\"" << classColour("ok") << "\"/></svg><p>" << escape(formatSize(intact))
    << " (" << groupThousands(intact) << " bytes"
    << (claimed > 0
            ? ", " + number(100.0 * static_cast<double>(intact) / static_cast<double>(claimed), 2) + "%"
            : "")
    << ") read back intact; the volume claims " << escape(claimed > 0 ? formatSize(claimed) : "-") << " ("
    << groupThousands(claimed) << " bytes)</p>\n";
  return s.str();
}

std::string ranksSection(const ordered_json& ranks, bool verify) {
  const ordered_json& rows = ranks["per_rank"];
  if (!rows.is_array() || rows.empty()) return {};
  std::ostringstream s;
  s << "<h2>Ranks</h2>\n";
  if (!verify) {
    Line rates{"rank rate", {}};
    for (std::size_t i = 0; i < rows.size(); ++i)
      rates.points.emplace_back(static_cast<double>(i), real(rows[i], "bytes_per_second"));
    // Ranks as bars: a rank's rate is one figure.
    constexpr double kWidth = 760, kRowH = 22, kLabel = 150;
    double top = 0;
    for (const auto& p : rates.points) top = std::max(top, p.second);
    s << "<svg id=\"rank-rates\" class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 "
      << kWidth << ' ' << kRowH * static_cast<double>(rows.size()) + 4 << "\" width=\"" << kWidth
      << "\" height=\"" << kRowH * static_cast<double>(rows.size()) + 4 << "\">";
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const double y = 2 + kRowH * static_cast<double>(i);
      const double v = rates.points[i].second;
      const std::string host = rows[i].contains("host") && rows[i]["host"].is_string()
                                   ? " " + rows[i]["host"].get<std::string>()
                                   : "";
      s << "<text class=\"tick\" x=\"0\" y=\"" << y + 14 << "\">rank " << i << escape(host) << "</text>"
        << "<rect class=\"bar\" data-rank=\"" << i << "\" x=\"" << kLabel << "\" y=\"" << y + 2
        << "\" width=\"" << number(top > 0 ? v / top * (kWidth - kLabel - 110) : 0, 2) << "\" height=\""
        << kRowH - 6 << "\" fill=\"" << kLineColours[i % std::size(kLineColours)]
        << "\"/><text class=\"tick\" x=\""
        << number(kLabel + (top > 0 ? v / top * (kWidth - kLabel - 110) : 0) + 4, 2) << "\" y=\"" << y + 14
        << "\">" << escape(sizeText(v)) << "/s</text>";
    }
    s << "</svg>\n";
  }
  if (ranks.contains("rate_summary") && ranks["rate_summary"].is_object()) {
    const ordered_json& r = ranks["rate_summary"];
    const auto rate = [&](const char* key) { return sizeText(real(r, key)) + "/s"; };
    s << "<p id=\"rank-summary\">Rate per rank: min " << escape(rate("min_bytes_per_second")) << ", max "
      << escape(rate("max_bytes_per_second")) << ", mean " << escape(rate("mean_bytes_per_second"))
      << ", standard deviation " << escape(rate("stddev_bytes_per_second"))
      << ". Aggregate: " << escape(rate("aggregate_bytes_per_second")) << ", "
      << escape(formatFileRate(real(r, "aggregate_files_per_second"), 1.0)) << ".</p>\n";
  }
  s << "<table class=\"ranks\"><tr>";
  std::vector<std::string> keys;
  for (const auto& [k, v] : rows[0].items()) {
    if (!v.is_object() && !v.is_array()) keys.push_back(k);
  }
  for (const auto& k : keys) s << "<th>" << escape(k) << "</th>";
  s << "</tr>";
  for (const ordered_json& r : rows) {
    s << "<tr>";
    for (const auto& k : keys) s << "<td>" << escape(r.contains(k) ? jsonText(r[k]) : "-") << "</td>";
    s << "</tr>";
  }
  s << "</table>\n";
  return s.str();
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:24px;color:#222;max-width:820px}"
    "h1{font-size:22px}h2{font-size:17px;margin-top:28px;border-bottom:1px solid #ccc}"
    "table{border-collapse:collapse;font-size:13px}th,td{text-align:left;padding:2px 10px 2px "
    "0;vertical-align:top}"
    "table.ranks th,table.ranks td{border-bottom:1px solid #eee}"
    ".verdict{font-size:18px;padding:8px 12px;border-radius:4px;display:inline-block}"
    ".good{background:#e8f5e9}.bad{background:#ffebee}"
    "figure{margin:12px 0}svg text{font-size:11px;fill:#333}svg .title{font-size:13px;font-weight:bold}"
    ".grid{stroke:#e0e0e0}.frame{fill:none;stroke:#999}.series{fill:none;stroke-width:1.6}"
    ".file{fill:#eceff1;stroke:#b0bec5}.key{display:inline-block;width:12px;height:12px;margin:0 4px 0 10px}"
    "figcaption{font-size:12px}";

// A run by a profile: its files per size class, the profile's share beside the tree's, as pairs
// of bars (class "target" and "achieved", one pair per class), and the figures of each
// distribution. Whatever the report holds, only numbers reach the picture.
std::string populationSection(const ordered_json& population) {
  std::ostringstream s;
  s << "<h2>Population: target against achieved</h2>\n";
  const ordered_json& sizes = population.contains("file_sizes") ? population["file_sizes"] : ordered_json();
  const ordered_json& bins = sizes.is_object() && sizes.contains("bins") && sizes["bins"].is_array()
                                 ? sizes["bins"]
                                 : ordered_json();
  const std::size_t count = std::min<std::size_t>(bins.is_array() ? bins.size() : 0, 64);
  double top = 0;
  for (std::size_t i = 0; i < count; ++i) {
    top = std::max({top, std::clamp(real(bins[i], "target_share"), 0.0, 1.0),
                    std::clamp(real(bins[i], "achieved_share"), 0.0, 1.0)});
  }
  constexpr int kChartWidth = 760, kChartHeight = 240, kLeft = 50, kBottom = 40, kTop = 24;
  const double plotHeight = kChartHeight - kBottom - kTop;
  const double slot =
      count > 0 ? static_cast<double>(kChartWidth - kLeft - 10) / static_cast<double>(count) : 0;
  s << "<figure><svg id=\"population-sizes\" class=\"chart\" data-bins=\"" << count
    << "\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << kChartWidth << ' ' << kChartHeight
    << "\" width=\"" << kChartWidth << "\" height=\"" << kChartHeight << "\">";
  s << "<text class=\"title\" x=\"" << kLeft
    << "\" y=\"16\">Files per size class: profile (blue) and tree (orange)</text>";
  s << "<rect class=\"frame\" x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kChartWidth - kLeft - 10
    << "\" height=\"" << plotHeight << "\"/>";
  for (std::size_t i = 0; i < count && top > 0; ++i) {
    const double x = kLeft + slot * static_cast<double>(i);
    const double shares[2] = {std::clamp(real(bins[i], "target_share"), 0.0, 1.0),
                              std::clamp(real(bins[i], "achieved_share"), 0.0, 1.0)};
    const char* kinds[2] = {"target", "achieved"};
    const char* colours[2] = {"#1565c0", "#ef6c00"};
    for (int k = 0; k < 2; ++k) {
      const double h = shares[k] / top * plotHeight;
      s << "<rect class=\"" << kinds[k] << "\" data-share=\"" << number(shares[k], 5) << "\" x=\""
        << number(x + slot * (0.1 + 0.4 * k), 2) << "\" y=\"" << number(kTop + plotHeight - h, 2)
        << "\" width=\"" << number(slot * 0.4, 2) << "\" height=\"" << number(h, 2) << "\" fill=\""
        << colours[k] << "\"/>";
    }
    if (i % 4 == 0) {
      s << "<text x=\"" << number(x, 1) << "\" y=\"" << kChartHeight - kBottom + 14 << "\">&#8804;"
        << escape(sizeText(real(bins[i], "up_to_bytes"))) << "</text>";
    }
  }
  s << "<text x=\"4\" y=\"" << kTop + 10 << "\">" << number(top * 100, 1) << " %</text>";
  s << "</svg></figure>\n";
  s << "<table><tr><th></th><th>target mean</th><th>achieved mean</th><th>target median</th><th>achieved "
       "median</th>"
       "<th>target p90</th><th>achieved p90</th><th>target p99</th><th>achieved p99</th></tr>";
  const std::pair<const char*, const char*> rows[] = {{"file_sizes", "bytes"},
                                                      {"files_per_folder", "files"},
                                                      {"subfolders_per_folder", "folders"},
                                                      {"file_depth", "levels"},
                                                      {"folder_depth", "levels"}};
  for (const auto& [key, unit] : rows) {
    if (!population.contains(key) || !population[key].is_object()) continue;
    const ordered_json& d = population[key];
    s << "<tr><th>" << escape(key) << "</th>";
    for (const char* figure : {"mean", "median", "p90", "p99"}) {
      const std::string name = std::string(figure) + "_" + unit;
      for (const char* side : {"target", "achieved"}) {
        const double v = d.contains(side) ? real(d[side], name.c_str()) : 0.0;
        s << "<td>" << escape(std::string(unit) == "bytes" ? sizeText(v) : number(v, 2)) << "</td>";
      }
    }
    s << "</tr>";
  }
  s << "</table>\n";
  if (sizes.is_object() && sizes.contains("ks_distance") && sizes["ks_distance"].is_number()) {
    s << "<p>Kolmogorov-Smirnov distance of the sizes: " << number(sizes["ks_distance"].get<double>(), 4)
      << "</p>\n";
  }
  return s.str();
}

}  // namespace

std::string formatReportPage(const ordered_json& report) {
  const bool verify = report.value("mode", std::string()) == "verify";
  const ordered_json& result = report.contains("result") ? report["result"] : ordered_json();
  const int code = result.is_object() && result.contains("code") && result["code"].is_number()
                       ? result["code"].get<int>()
                       : -1;
  std::ostringstream s;
  s << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
    << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
       "'unsafe-inline'; "
       "img-src data:\">"
    << "<title>Talvane Quillet report</title><style>" << kStyle << "</style></head><body>\n";
  s << "<h1>Talvane Quillet: " << escape(verify ? "verify" : report.value("mode", std::string("run")))
    << "</h1>\n";
  std::string verdict = result.is_object() ? result.value("text", std::string()) : std::string();
  s << "<p class=\"verdict " << (code == 0 ? "good" : "bad") << "\">" << escape(verdict) << " (exit code "
    << code << ")</p>\n";

  s << "<h2>Run</h2><table>";
  s << row("started", jsonText(report.value("start_time_utc", ordered_json())))
    << row("ended", jsonText(report.value("end_time_utc", ordered_json())))
    << row("duration", formatElapsed(real(report, "duration_seconds")));
  if (report.contains("command_line") && report["command_line"].is_array()) {
    std::string line;
    for (const auto& a : report["command_line"]) line += (line.empty() ? "" : " ") + jsonText(a);
    s << row("command line", line);
  }
  if (!verify) {
    const double seconds = real(report, "generation_seconds");
    const std::int64_t bytes = integer(report, "bytes_allocated"), files = integer(report, "files_created");
    s << row("files", groupThousands(files))
      << row("bytes", formatSize(bytes) + " (" + groupThousands(bytes) + ")")
      << row("rate", formatRateSentence("Write", bytes, files, seconds));
  }
  if (verify && report.contains("series") && report["series"].is_object() &&
      !report["series"]["samples"].empty()) {
    const ordered_json& last = report["series"]["samples"].back();
    s << row("read",
             formatSize(integer(last, "bytes")) + " in " + groupThousands(integer(last, "files")) + " files")
      << row("rate", formatRateSentence("Read", integer(last, "bytes"), integer(last, "files"),
                                        real(last, "elapsed_seconds"), false));
  }
  s << "</table>\n";
  if (report.contains("parameters") && report["parameters"].is_object()) {
    s << "<h2>Parameters</h2><table>";
    for (const auto& [k, v] : report["parameters"].items()) s << row(k, jsonText(v));
    s << "</table>\n";
  }
  if (report.contains("rejection") && report["rejection"].is_string()) {
    s << "<p>" << escape(report["rejection"].get<std::string>()) << "</p>\n";
  }

  s << "<h2>" << (verify ? "Read speed" : "Write speed") << "</h2>\n";
  if (report.contains("series") && report["series"].is_object()) {
    s << seriesCharts(report["series"], verify);
  } else {
    s << "<p>The report holds no speed record.</p>\n";
  }
  if (report.contains("ranks") && report["ranks"].is_object()) s << ranksSection(report["ranks"], verify);
  if (report.contains("population") && report["population"].is_object())
    s << populationSection(report["population"]);

  if (verify && report.contains("verify") && report["verify"].is_object()) {
    const ordered_json& v = report["verify"];
    s << "<h2>Verdict by class</h2><table>";
    if (v.contains("classes") && v["classes"].is_object()) {
      for (const auto& [name, c] : v["classes"].items()) {
        s << "<tr><th><span class=\"key\" style=\"background:" << classColour(name) << "\"></span>"
          << escape(name) << "</th><td>" << escape(formatSize(integer(c, "bytes"))) << " in "
          << groupThousands(integer(c, "files")) << " files</td></tr>";
      }
    }
    s << "</table>\n<h2>Damaged ranges</h2>\n" << damageMap(v);
    s << "<h2>Capacity</h2>\n";
    const ordered_json& c = v.contains("capacity") ? v["capacity"] : ordered_json();
    s << capacityBar(integer(c, "intact_bytes"), integer(c, "volume_total_bytes"));
  } else if (report.contains("volume") && report["volume"].is_object()) {
    const ordered_json& vol = report["volume"];
    s << "<h2>Volume</h2><table>";
    for (const auto& [k, v] : vol.items()) s << row(k, jsonText(v));
    s << "</table>\n";
  }
  s << "<p class=\"tick\">"
    << escape(report.contains("program") ? jsonText(report["program"].value("version", ordered_json())) : "")
    << "</p></body></html>\n";
  return s.str();
}

Status writeReportPage(const std::string& path, const ordered_json& report) {
  return replaceFileAtomically(path, formatReportPage(report));
}

int runPageScript(const std::vector<std::string>& args) {
  std::string reportPath, pagePath;
  const auto fail = [](const std::string& text) {
    std::cerr << "quillet: " << text << "\n";
    return 8;
  };
  for (const ScriptParameter& p : splitParameters(args)) {
    const std::string& key = p.keyUpper;
    const std::string& value = p.value;
    std::string* target = key == "/REPORT" ? &reportPath : key == "/HTML" ? &pagePath : nullptr;
    if (target == nullptr) return fail("Invalid script parameter '" + p.key + "'.");
    if (!target->empty()) return fail("Repitition " + asciiLower(key) + " parameter.");
    if (value.size() < 3 || value.front() != '\'' || value.back() != '\'') {
      return fail(std::string(key == "/REPORT" ? "Report" : "Html") +
                  " parameter must be a path in ' symbols.");
    }
    *target = value.substr(1, value.size() - 2);
  }
  if (reportPath.empty()) return fail("/report parameter is absent.");
  if (pagePath.empty()) return fail("/html parameter is absent.");
  std::ifstream in(absolutePath(reportPath), std::ios::binary);
  if (!in) return fail("Can not read report '" + reportPath + "'.");
  ordered_json report = ordered_json::parse(in, nullptr, false);
  if (report.is_discarded() || !report.is_object() || !report.contains("schema")) {
    return fail("'" + reportPath + "' is not a report.");
  }
  const Status written = writeReportPage(absolutePath(pagePath), report);
  if (!written.ok()) return fail("Can not write page '" + pagePath + "': " + written.message() + ".");
  return 0;
}

void writeRunPage(ScriptLog& log, const std::string& path, const RunRecord& record) {
  const Status written = writeReportPage(path, ordered_json::parse(formatReport(record)));
  if (!written.ok()) log.writeLine("Can not write page '" + path + "': " + written.message() + ".");
}

}  // namespace quillet
