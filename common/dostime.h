// QlDosDateTime: the packed 32-bit date and time of Zip and FAT.
//
// Date word << 16 | time word. Date word: bits 9-15 year - 1980, bits 5-8
// month, bits 0-4 day; time word: bits 11-15 hour, bits 5-10 minute, bits 0-4
// second / 2. Packing, unpacking and the 1980-2107 range are our own code:
// Wine's FileTimeToDosDateTime accepts years that Windows refuses.
// Pure code: no Windows headers.
#pragma once

#include <cstdint>

struct QlDosFields {
    int year, month, day, hour, minute, second;
};

class QlDosDateTime {
public:
    enum { kFirstYear = 1980, kLastYear = 2107 };

    QlDosDateTime() : m_value(0) {}
    QlDosDateTime(uint16_t date, uint16_t time) { Set(date, time); }

    void Clear() { m_value = 0; }
    void Set(uint16_t date, uint16_t time) { m_value = uint32_t(date) << 16 | time; }
    void Assign(const QlDosDateTime& other) { m_value = other.m_value; }
    uint16_t Date() const { return uint16_t(m_value >> 16); }
    uint16_t Time() const { return uint16_t(m_value); }
    uint32_t Value() const { return m_value; }

    // The fields as stored, without any check (seconds are twice bits 0-4).
    QlDosFields Unpack() const;
    // The unpacked fields form a real date and time.
    bool IsValid() const;
    // Packs a valid date of 1980-2107; an odd second drops to the even one
    // below. Answers false and leaves the value unchanged otherwise.
    bool Pack(int year, int month, int day, int hour, int minute, int second);

    // The value with every field forced into its range, as the time of an
    // extracted file is set: second, minute and hour to their maximum, day and
    // month at least 1, month at most 12, and the day at most the days of its
    // month (so that a stored 31 February still gives a time).
    QlDosDateTime Clamped() const;

private:
    uint32_t m_value;
};
