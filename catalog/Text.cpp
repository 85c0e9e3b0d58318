#include "catalog/Text.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

namespace treelan::catalog {

namespace {

// Days since 1970-01-01 of a civil date and back (Howard Hinnant's algorithms).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + std::int64_t(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = std::int64_t(yoe) + era * 400 + (m <= 2);
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Digits at `at`, exactly `count` of them; -1 when they are not there.
int digits(std::string_view s, std::size_t& at, int count) {
    int v = 0;
    for (int i = 0; i < count; ++i, ++at) {
        if (at >= s.size() || s[at] < '0' || s[at] > '9') return -1;
        v = v * 10 + (s[at] - '0');
    }
    return v;
}

} // namespace

std::string IsoTime(std::int64_t ns, std::int64_t resolutionNs) {
    if (resolutionNs < 1) resolutionNs = 1;
    const std::int64_t cut = floorDiv(ns, resolutionNs) * resolutionNs;
    const std::int64_t seconds = floorDiv(cut, 1'000'000'000);
    const std::int64_t fraction = cut - seconds * 1'000'000'000;
    const std::int64_t days = floorDiv(seconds, 86400);
    const std::int64_t inDay = seconds - days * 86400;
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    char text[64];
    int n = std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d",
                          static_cast<long long>(y), m, d, int(inDay / 3600), int(inDay / 60 % 60),
                          int(inDay % 60));
    if (fraction != 0) {
        char frac[16];
        std::snprintf(frac, sizeof frac, "%09lld", static_cast<long long>(fraction));
        std::string f(frac);
        while (!f.empty() && f.back() == '0')
            f.pop_back();
        n += std::snprintf(text + n, sizeof text - std::size_t(n), ".%s", f.c_str());
    }
    std::snprintf(text + n, sizeof text - std::size_t(n), "Z");
    return text;
}

bool ParseIsoTime(std::string_view s, std::int64_t& ns) {
    std::size_t at = 0;
    const int year = digits(s, at, 4);
    if (year < 0 || at >= s.size() || s[at++] != '-') return false;
    const int month = digits(s, at, 2);
    if (month < 1 || month > 12 || at >= s.size() || s[at++] != '-') return false;
    const int day = digits(s, at, 2);
    if (day < 1 || day > 31) return false;
    int hour = 0, minute = 0, second = 0;
    std::int64_t fraction = 0;
    std::int64_t offset = 0;
    if (at < s.size() && (s[at] == 'T' || s[at] == 't' || s[at] == ' ')) {
        ++at;
        hour = digits(s, at, 2);
        if (hour < 0 || hour > 23 || at >= s.size() || s[at++] != ':') return false;
        minute = digits(s, at, 2);
        if (minute < 0 || minute > 59) return false;
        if (at < s.size() && s[at] == ':') {
            ++at;
            second = digits(s, at, 2);
            if (second < 0 || second > 60) return false;
            if (at < s.size() && (s[at] == '.' || s[at] == ',')) {
                ++at;
                std::int64_t scale = 100'000'000;
                const std::size_t start = at;
                for (; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at, scale /= 10)
                    fraction += (s[at] - '0') * scale;
                if (at == start) return false;
            }
        }
        if (at < s.size() && (s[at] == 'Z' || s[at] == 'z')) {
            ++at;
        } else if (at < s.size() && (s[at] == '+' || s[at] == '-')) {
            const int sign = s[at++] == '-' ? -1 : 1;
            const int oh = digits(s, at, 2);
            int om = 0;
            if (oh < 0 || oh > 23) return false;
            if (at < s.size() && s[at] == ':') ++at;
            if (at < s.size()) om = digits(s, at, 2);
            if (om < 0 || om > 59) return false;
            offset = sign * (oh * 3600 + om * 60);
        }
    }
    if (at != s.size()) return false;
    const std::int64_t seconds = daysFromCivil(year, unsigned(month), unsigned(day)) * 86400 +
                                 hour * 3600 + minute * 60 + second - offset;
    ns = seconds * 1'000'000'000 + fraction;
    return true;
}

void AppendJson(std::string& out, std::string_view utf8) {
    out += '"';
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(c));
            out += esc;
        } else {
            out += char(c);
        }
    }
    out += '"';
}

void AppendPercent(std::string& out, std::string_view bytes) {
    static const char hex[] = "0123456789ABCDEF";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
}

bool IsUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size();) {
        const int n = Utf8SequenceLength(p + i, bytes.size() - i);
        if (n == 0) return false;
        i += std::size_t(n);
    }
    return true;
}

std::string DisplayText(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    for (std::size_t i = 0; i < raw.size();) {
        const int n = Utf8SequenceLength(p + i, raw.size() - i);
        if (n == 0) {
            AppendUtf8(out, p[i++]);
        } else {
            out.append(raw.data() + i, std::size_t(n));
            i += std::size_t(n);
        }
    }
    return out;
}

std::string Hex(std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

} // namespace treelan::catalog
