#include "asn1/values/primitives.h"

#include "asn1/values/detail.h"
#include "asn1/values/visitor.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

namespace ASN1 {

const TypeInfo GeneralizedTime::theInfo = {&GeneralizedTime::create, 24};

AbstractData* GeneralizedTime::create(void const* info) { return new GeneralizedTime(info); }

GeneralizedTime::GeneralizedTime(int year, int month, int day, int hour, int minute, int second,
                                 int millisec, int mindiff, bool utc)
    : AbstractData(&theInfo), year_(year), month_(month), day_(day), hour_(hour),
      minute_(minute), second_(second), millisec_(millisec), mindiff_(mindiff), utc_(utc)
{
}

GeneralizedTime& GeneralizedTime::operator=(GeneralizedTime const& other)
{
    year_ = other.year_;
    month_ = other.month_;
    day_ = other.day_;
    hour_ = other.hour_;
    minute_ = other.minute_;
    second_ = other.second_;
    millisec_ = other.millisec_;
    mindiff_ = other.mindiff_;
    utc_ = other.utc_;
    return *this;
}

void GeneralizedTime::swap(GeneralizedTime& other)
{
    std::swap(year_, other.year_);
    std::swap(month_, other.month_);
    std::swap(day_, other.day_);
    std::swap(hour_, other.hour_);
    std::swap(minute_, other.minute_);
    std::swap(second_, other.second_);
    std::swap(millisec_, other.millisec_);
    std::swap(mindiff_, other.mindiff_);
    std::swap(utc_, other.utc_);
}

void GeneralizedTime::set(char const* text)
{
    if (!text)
        return;
    int f[6];
    int got = std::sscanf(text, "%4d%2d%2d%2d%2d%2d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
    std::int32_t* fields[6] = {&year_, &month_, &day_, &hour_, &minute_, &second_};
    for (int i = 0; i < got && i < 6; ++i)
        *fields[i] = f[i];

    std::size_t len = std::strlen(text);
    if (len > 14 && text[14] == '.') {
        // The fraction's first three digits are the milliseconds (read as
        // digits: a binary float would turn ".123" into 122).
        int ms = 0;
        int digits = 0;
        for (char const* p = text + 15; std::isdigit(static_cast<unsigned char>(*p)) && digits < 3; ++p, ++digits)
            ms = ms * 10 + (*p - '0');
        for (; digits < 3; ++digits)
            ms *= 10;
        millisec_ = ms;
    }

    if (len > 0 && text[len - 1] == 'Z') {
        utc_ = true;
    } else if (len >= 5 && (text[len - 5] == '+' || text[len - 5] == '-')) {
        char const* d = text + len - 4;
        bool digits = true;
        for (int i = 0; i < 4; ++i)
            digits = digits && std::isdigit(static_cast<unsigned char>(d[i]));
        if (digits) {
            int hh = (d[0] - '0') * 10 + (d[1] - '0');
            int mm = (d[2] - '0') * 10 + (d[3] - '0');
            mindiff_ = (text[len - 5] == '-' ? -1 : 1) * (hh * 60 + mm);
        }
    }
}

std::string GeneralizedTime::get() const
{
    char buf[96];
    int n = std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", year_, month_, day_, hour_,
                          minute_, second_);
    std::string text(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    if (millisec_ != 0) {
        n = std::snprintf(buf, sizeof buf, ".%03d", millisec_);
        text.append(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    if (utc_) {
        text += 'Z';
    } else if (mindiff_ != 0) {
        long magnitude = mindiff_ < 0 ? -static_cast<long>(mindiff_) : mindiff_;
        n = std::snprintf(buf, sizeof buf, "%c%02ld%02ld", mindiff_ < 0 ? '-' : '+',
                          magnitude / 60, magnitude % 60);
        text.append(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    return text;
}

long GeneralizedTime::get_time_t() const
{
    std::tm tm{};
    tm.tm_year = year_ - 1900;
    tm.tm_mon = month_ - 1;
    tm.tm_mday = day_;
    tm.tm_hour = hour_;
    tm.tm_min = minute_;
    tm.tm_sec = second_;
    tm.tm_isdst = -1;  // let the C library decide whether daylight saving applies
    return static_cast<long>(std::mktime(&tm));
}

void GeneralizedTime::set_time_t(long t)
{
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (!gmtime_r(&tt, &tm))
        return;
    year_ = tm.tm_year + 1900;
    month_ = tm.tm_mon + 1;
    day_ = tm.tm_mday;
    hour_ = tm.tm_hour;
    minute_ = tm.tm_min;
    second_ = tm.tm_sec;
}

int GeneralizedTime::do_compare(AbstractData const& other) const
{
    GeneralizedTime const* o = detail::sameKind<GeneralizedTime>(other);
    if (!o)
        return 1;
    std::int32_t const mine[] = {year_, month_, day_, hour_, minute_, second_, millisec_};
    std::int32_t const theirs[] = {o->year_, o->month_, o->day_, o->hour_, o->minute_, o->second_, o->millisec_};
    for (int i = 0; i < 7; ++i) {
        if (mine[i] != theirs[i])
            return detail::difference(mine[i], theirs[i]);
    }
    return int(utc_) - int(o->utc_);  // the offset takes no part
}

AbstractData* GeneralizedTime::do_clone() const { return detail::cloneAs(*this); }
bool GeneralizedTime::do_accept(Visitor& v) { return v.visit(*this); }
bool GeneralizedTime::do_accept(ConstVisitor& v) const { return v.visit(*this); }

} // namespace ASN1
