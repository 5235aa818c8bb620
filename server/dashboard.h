#pragma once

#include <map>
#include <string>
#include <vector>

#include "figures.h"

// The colours of the funnel's four bars (other tools look for them in
// screenshots): initial, started, completed, failed.
extern const char* const kFunnelColours[4];

std::string HtmlEscape(const std::string& text);

// The dashboard of one game (`game` empty: all games) with server-drawn SVG.
std::string RenderDashboard(const std::string& game, const Figures& figures, const std::vector<Labelled>& games,
                            const std::map<std::string, std::string>& names);
