#include "dashboard.h"

#include "contract/engine_contract.h"

#include <algorithm>
#include <cstdint>
#include <cctype>
#include <cstdio>
#include <ctime>

const char* const kFunnelColours[4] = {"#3a63c9", "#1f9e89", "#4caf3d", "#d8434e"};

namespace {
// Started, finished, failed per day: lighter than the funnel's, so that the
// funnel's colours stay its own.
const char* const kDayColours[3] = {"#5fbfae", "#7cc66e", "#e5808a"};
}  // namespace

namespace {

std::string Str(int64_t n) { return std::to_string(n); }

// Characters that reorder or hide the text around them.
bool Invisible(uint32_t c) {
  return c == 0x061C || c == 0x180E || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

// Text from reports or requests as a label: at most `maxChars` characters,
// those that reorder or hide text shown as their code, escaped for HTML.
std::string Label(const std::string& text, size_t maxChars = 48) {
  std::string out;
  size_t chars = 0;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    uint32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n && i + k < text.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    if (++chars > maxChars) {
      out += "…";
      break;
    }
    if (Invisible(cp)) {
      char code[16];
      std::snprintf(code, sizeof code, "[U+%04X]", static_cast<unsigned>(cp));
      out += code;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return HtmlEscape(out);
}

std::string Percent(int64_t part, int64_t whole) {
  if (whole <= 0) return "";
  char buf[32];
  std::snprintf(buf, sizeof buf, " (%.0f%%)", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return buf;
}

// Query-string encoding for links to a game's page.
using engine_contract::UrlEncode;

// Horizontal bars with a label above each, in a box that scales to its card.
std::string HorizontalBars(const std::vector<Labelled>& items, const std::vector<std::string>& colours,
                           const std::string& cssClass, const std::vector<std::string>& notes = {}) {
  const int rowHeight = 56, width = 600;
  int64_t top = 1;
  for (const Labelled& i : items) top = std::max(top, i.count);
  std::string svg = "<svg viewBox=\"0 0 " + Str(width) + " " + Str(rowHeight * static_cast<int64_t>(items.size()) + 4) +
                    "\" role=\"img\" preserveAspectRatio=\"xMinYMin meet\">";
  for (size_t k = 0; k < items.size(); ++k) {
    const int y = static_cast<int>(k) * rowHeight;
    const int64_t w = std::max<int64_t>(items[k].count ? 3 : 0, (width - 10) * items[k].count / top);
    const std::string& colour = colours[k % colours.size()];
    svg += "<text x=\"0\" y=\"" + Str(y + 20) + "\" class=\"lbl\">" + Label(items[k].label) + " — " +
           Str(items[k].count) + (k < notes.size() ? notes[k] : "") + "</text>";
    svg += "<rect class=\"" + cssClass + "\" x=\"0\" y=\"" + Str(y + 27) + "\" width=\"" + Str(w) +
           "\" height=\"24\" rx=\"3\" fill=\"" + colour + "\"><title>" + Label(items[k].label, 200) + ": " +
           Str(items[k].count) + "</title></rect>";
  }
  return svg + "</svg>";
}

std::string DateText(int64_t day, const char* format) {
  char buf[16];
  const time_t t = static_cast<time_t>(day) * 86400;
  std::tm tm{};
  gmtime_r(&t, &tm);
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

// Started, finished and failed downloads per day, the last kDays days.
std::string DailyChart(const std::vector<DayFigures>& days, int64_t today) {
  const int width = 600, height = 210, base = 180, left = 34;
  int64_t top = 1;
  for (const DayFigures& d : days) top = std::max({top, d.started, d.finished, d.failed});
  const double slot = static_cast<double>(width - left) / kDays;
  std::string svg = "<svg viewBox=\"0 0 " + Str(width) + " " + Str(height) + "\" role=\"img\">";
  svg += "<line x1=\"" + Str(left) + "\" y1=\"" + Str(base) + "\" x2=\"" + Str(width) + "\" y2=\"" + Str(base) +
         "\" stroke=\"#999\"/>";
  svg += "<text x=\"0\" y=\"16\" class=\"axis\">" + Str(top) + "</text><text x=\"0\" y=\"" + Str(base) +
         "\" class=\"axis\">0</text>";
  for (int i = 0; i < kDays; ++i) {
    const int64_t day = today - kDays + 1 + i;
    const double x = left + i * slot;
    if ((kDays - 1 - i) % 7 == 0)
      svg += "<text x=\"" + Str(static_cast<int64_t>(x + slot)) + "\" y=\"" + Str(base + 22) +
             "\" class=\"axis\" text-anchor=\"end\">" + DateText(day, "%m-%d") + "</text>";
    const auto it = std::find_if(days.begin(), days.end(), [&](const DayFigures& d) { return d.day == day; });
    if (it == days.end()) continue;
    const int64_t values[3] = {it->started, it->finished, it->failed};
    const char* const* colours = kDayColours;
    for (int k = 0; k < 3; ++k) {
      const int64_t h = (base - 20) * values[k] / top;
      char rect[256];
      std::snprintf(rect, sizeof rect,
                    "<rect class=\"day\" x=\"%.1f\" y=\"%lld\" width=\"%.1f\" height=\"%lld\" fill=\"%s\">"
                    "<title>%s: %lld</title></rect>",
                    x + 1 + k * (slot - 2) / 3, static_cast<long long>(base - h), (slot - 2) / 3,
                    static_cast<long long>(h), colours[k], DateText(day, "%Y-%m-%d").c_str(),
                    static_cast<long long>(values[k]));
      svg += rect;
    }
  }
  return svg + "</svg>";
}

std::string ByteText(double bytes) {
  const char* const units[] = {"B", "KB", "MB", "GB", "TB", "PB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 5) {
    bytes /= 1024;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, unit ? "%.1f %s" : "%.0f %s", bytes, units[unit]);
  return buf;
}

std::string ShareText(const SharingFigures& s) {
  const double share = s.Share();
  if (share < 0) return "—";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.1f%%", 100 * share);
  return buf;
}

// What the players of finished downloads got from each other: per day for
// one game, per game for all of them.
std::string SharingCard(const std::string& game, const Figures& f, const std::map<std::string, std::string>& names) {
  const SharingFigures& t = f.sharingTotal;
  std::string html = "<section class=\"card wide\"><h2>Bytes from other players (finished downloads, last " +
                     Str(kDays) + " days)</h2>";
  if (t.finished == 0) return html + "<p class=\"muted\">No finished downloads.</p></section>";
  html += "<p>" + ByteText(t.peerBytes) + " came from other players" +
          (t.Share() >= 0 ? ", " + ShareText(t) + " of the " + ByteText(t.deliveredBytes) + " delivered" : "") +
          "; players served " + ByteText(t.servedBytes) + ".</p>";
  std::vector<SharingFigures> rows;
  if (game.empty()) {
    std::map<std::string, SharingFigures> byGame;
    for (const SharingFigures& s : f.sharing) {
      SharingFigures& g = byGame[s.game];
      g.game = s.game;
      g.Add(s);
    }
    for (const auto& entry : byGame) rows.push_back(entry.second);
    std::sort(rows.begin(), rows.end(),
              [](const SharingFigures& a, const SharingFigures& b) { return a.peerBytes > b.peerBytes; });
    if (rows.size() > 20) rows.resize(20);
  } else {
    rows = f.sharing;
  }
  html += "<table><tr><td>" + std::string(game.empty() ? "game" : "day") +
          "</td><td>finished</td><td>from players</td><td>share</td><td>served</td></tr>";
  for (const SharingFigures& s : rows) {
    std::string label = DateText(s.day, "%Y-%m-%d");
    if (game.empty()) {
      const auto n = names.find(s.game);
      label = Label(n != names.end() ? n->second : (s.game.empty() ? "(no game key)" : s.game));
    }
    html += "<tr><td>" + label + "</td><td>" + Str(s.finished) + "</td><td>" + ByteText(s.peerBytes) + "</td><td>" +
            ShareText(s) + "</td><td>" + ByteText(s.servedBytes) + "</td></tr>";
  }
  html += "</table><p class=\"muted\">Share: bytes from players of the game's size per finished download (its "
          "configuration in --configs; — without one). Reports of older downloaders count as nothing from players.</p>";
  return html + "</section>";
}

const char kStyle[] =
    "body{font-family:'WenQuanYi Micro Hei',system-ui,sans-serif;margin:0;background:#f4f5f7;color:#222}"
    "header{background:#263247;color:#fff;padding:12px 16px}header h1{font-size:20px;margin:0}"
    "header a{color:#cfe0ff}main{max-width:1000px;margin:0 auto;padding:12px;display:grid;"
    "grid-template-columns:repeat(auto-fit,minmax(300px,1fr));gap:12px}"
    ".card{background:#fff;border-radius:8px;padding:12px 14px;box-shadow:0 1px 3px rgba(0,0,0,.12)}"
    ".card h2{font-size:16px;margin:0 0 "
    "8px}.wide{grid-column:1/-1}svg{width:100%;max-width:600px;height:auto;display:block}"
    ".lbl{font-size:21px;fill:#333}.axis{font-size:17px;fill:#666}.key span{display:inline-block;width:10px;"
    "height:10px;margin:0 4px 0 10px}.muted{color:#666;font-size:13px}table{border-collapse:collapse;width:100%}"
    "td{padding:4px 6px;border-bottom:1px solid #eee;font-size:14px;word-break:break-all}";

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string RenderDashboard(const std::string& game, const Figures& f, const std::vector<Labelled>& games,
                            const std::map<std::string, std::string>& names) {
  const auto named = names.find(game);
  const std::string title = game.empty() ? "All games" : (named != names.end() ? named->second + " " + game : game);
  const int64_t today = static_cast<int64_t>(std::time(nullptr)) / 86400;

  std::string html =
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<meta http-equiv=\"refresh\" content=\"15\"><title>Downloads — " +
      Label(title, 80) + "</title><style>" + kStyle + "</style></head><body><header><h1>Downloads — " +
      Label(title, 80) + "</h1>";
  if (!game.empty()) html += "<a href=\"/dashboard\">all games</a> · ";
  html += "<a href=\"/api/figures" + (game.empty() ? std::string() : "?game=" + UrlEncode(game)) +
          "\">figures as JSON</a></header><main>";

  const Funnel& fu = f.funnel;
  html += "<section class=\"card wide\"><h2>Players: from the first window to the finished download</h2>";
  html +=
      HorizontalBars({{"Opened the downloader", fu.initial},
                      {"Started the download", fu.start},
                      {"Finished the download", fu.complete},
                      {"Download failed", fu.failed}},
                     {kFunnelColours[0], kFunnelColours[1], kFunnelColours[2], kFunnelColours[3]}, "funnel",
                     {"", Percent(fu.start, fu.initial), Percent(fu.complete, fu.start), Percent(fu.failed, fu.start)});
  html += "<p class=\"muted\">Players are counted by machine identifier. " + Str(f.reports) + " reports stored";
  if (f.malformed) html += ", " + Str(f.malformed) + " of them malformed";
  html += ".</p>";
  const Funnel& un = f.unidentified;
  if (un.initial || un.start || un.complete || un.failed)
    html += "<p class=\"muted\">Without a machine identifier (counted once per address, version and day, not in the "
            "bars): opened " + Str(un.initial) + ", started " + Str(un.start) + ", finished " + Str(un.complete) +
            ", failed " + Str(un.failed) + ".</p>";
  html += "</section>";

  html += "<section class=\"card wide\"><h2>Downloads per day (last " + Str(kDays) +
          " days, UTC)</h2><div class=\"key muted\"><span style=\"background:" + std::string(kDayColours[0]) +
          "\"></span>started<span style=\"background:" + kDayColours[1] +
          "\"></span>finished<span style=\"background:" + kDayColours[2] + "\"></span>failed</div>" +
          DailyChart(f.days, today) + "</section>";

  html += SharingCard(game, f, names);

  std::vector<Labelled> reasons;
  for (const Labelled& l : f.failures)
    reasons.push_back({FailureReason(l.label) + (l.label == "other" ? "" : " (cwdm " + l.label + ")"), l.count});
  html += "<section class=\"card\"><h2>Failures by reason</h2>" +
          (reasons.empty() ? std::string("<p class=\"muted\">No failed downloads.</p>")
                           : HorizontalBars(reasons, {"#c0392b", "#e07b39", "#b5446e", "#8d5a97"}, "failure")) +
          "</section>";

  html += "<section class=\"card\"><h2>Downloader versions in use (players)</h2>" +
          (f.versions.empty() ? std::string("<p class=\"muted\">No reports yet.</p>")
                              : HorizontalBars(f.versions, {"#6a7fdb", "#57a0d3", "#8c9cb3"}, "version")) +
          "</section>";

  if (game.empty()) {
    html += "<section class=\"card wide\"><h2>Games</h2><table>";
    for (const Labelled& g : games) {
      const auto n = names.find(g.label);
      html += "<tr><td><a href=\"/dashboard?game=" + UrlEncode(g.label) + "\">" +
              Label(n != names.end() ? n->second : (g.label.empty() ? "(no game key)" : g.label)) +
              "</a></td><td class=\"muted\">" + Label(g.label) + "</td><td>" + Str(g.count) + " reports</td></tr>";
    }
    if (games.empty()) html += "<tr><td class=\"muted\">No reports yet.</td></tr>";
    html += "</table></section>";
  }
  return html + "</main></body></html>";
}
