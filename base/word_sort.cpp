// The word sort compares sort keys: for each text a byte string made of its weights level by
// level, compared as bytes. The keys are built the way Windows builds them (LCMapString with
// LCMAP_SORTKEY gives the same bytes), which is what lets the generator learn the weights from
// the keys of single characters.
//
// A key is: the primary weights (two bytes per character: script and weight; private-use
// characters take three), 01, the diacritic weights, 01, the case weights, 01, the kana
// levels when there are kana, 01, the weights of the punctuation that the primary level leaves
// out, and a final 00. Trailing default values of the diacritic, case and kana levels are left
// out, so that a longer text with nothing more to say at a level sorts with the shorter one.
//
// Each character's weights are packed into 32 bits (word_sort_table.cpp); the top three bits say
// what kind of character it is:
//   normal       bits 0-7 weight, 8-15 script, 16-23 diacritic (private use: third primary
//                byte), 24-28 case
//   expansion    several normal weights, bits 0-15 the first in kSortExpansions, 16-19 count
//   punctuation  bits 0-7 weight, 16-23 diacritic, 24-28 case; only in the last level
//   nonspacing   bits 16-23 diacritic, added to the character before it (the voiced marks)
//   kana         bits 0-7 weight (script 0x22), 8-15 kana bits (0x02 full size, 0x20
//                hiragana, 0x01 full width), 16-23 diacritic
//   mark         a prolonged sound mark (bit 0 set; its width in bit 8) or a repeat mark,
//                bits 16-23 diacritic: weighs as the kana before it
#include "base/word_sort.h"

#include "base/cp932.h"
#include "base/cp932_tables.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace cp932 {

namespace {

enum Kind : uint32_t { kIgnored, kNormal, kExpansion, kPunctuation, kNonspacing, kKana, kMark };

constexpr uint32_t kCaseBitsIgnored = 0x18; // upper case and subscript
constexpr uint8_t kKanaScript = 0x22;

Kind kindOf(uint32_t w) {
    return static_cast<Kind>(w >> 29);
}
uint8_t byte0(uint32_t w) {
    return static_cast<uint8_t>(w);
}
uint8_t byte1(uint32_t w) {
    return static_cast<uint8_t>(w >> 8);
}
uint8_t diacriticOf(uint32_t w) {
    return static_cast<uint8_t>(w >> 16);
}
uint8_t caseOf(uint32_t w) {
    return static_cast<uint8_t>(w >> 24 & 0x1F);
}

uint32_t weightsOf(unsigned code) {
    int slot = tables::slotOf(code);
    // A lead byte with a byte that is no trail byte decodes to the default character, 0x8145.
    return tables::kSortWeights[slot >= 0 ? slot : tables::slotOf(0x8145)];
}

class KeyBuilder {
  public:
    explicit KeyBuilder(bool ignoreCase) : ignoreCase_(ignoreCase) {}

    void add(uint32_t w) {
        switch (kindOf(w)) {
        case kIgnored:
            break;
        case kNormal:
            addNormal(w, caseOf(w));
            break;
        case kExpansion:
            for (uint32_t i = 0; i < (w >> 16 & 0xF); ++i)
                addNormal(tables::kSortExpansions[(w & 0xFFFF) + i],
                          caseOf(tables::kSortExpansions[(w & 0xFFFF) + i]));
            break;
        case kPunctuation: {
            auto position = static_cast<uint16_t>(-static_cast<int>(primary_.size() / 2) - 1);
            special_ += static_cast<char>(position >> 8);
            special_ += static_cast<char>(position & 0xFF);
            special_ += static_cast<char>(byte0(w));
            special_ += static_cast<char>(maskCase(caseOf(w)) | diacriticOf(w) << 3);
            break;
        }
        case kNonspacing:
            if (diacritic_.empty())
                diacritic_ += static_cast<char>(diacriticOf(w));
            else
                diacritic_.back() = static_cast<char>(diacritic_.back() + diacriticOf(w));
            break;
        case kKana:
            addKana(byte0(w), diacriticOf(w), byte1(w), 3);
            break;
        case kMark:
            addMark(w);
            break;
        }
        seen_.push_back(w);
    }

    std::string key() const {
        std::string key = primary_;
        key += '\x01';
        key += trimmed(diacritic_, [](uint8_t b) { return b <= 2; });
        key += '\x01';
        key += trimmed(case_, [](uint8_t b) { return b <= 2; });
        key += '\x01';
        if (hasKana_) {
            key += trimmed(kana_[0], [](uint8_t b) { return b == 0xC6; });
            key += '\xFF';
            key += trimmed(kana_[1], [](uint8_t b) { return b == 0x03; });
            key += '\x02';
            key += trimmed(kana_[2], [](uint8_t b) { return b == 0xE4; });
            key += '\xFF';
            key += trimmed(kana_[3], [](uint8_t b) { return b == 0xC5; });
            key += '\xFF';
        }
        key += '\x01';
        key += special_;
        key += '\0';
        return key;
    }

  private:
    uint8_t maskCase(uint8_t c) const {
        return ignoreCase_ ? static_cast<uint8_t>(c & ~kCaseBitsIgnored) : c;
    }

    void addNormal(uint32_t w, uint8_t caseWeight) {
        primary_ += static_cast<char>(byte1(w));
        primary_ += static_cast<char>(byte0(w));
        if (byte1(w) >= 0xA9 && byte1(w) <= 0xAF)
            primary_ += static_cast<char>(diacriticOf(w)); // private use: three bytes
        else
            diacritic_ += static_cast<char>(diacriticOf(w));
        case_ += static_cast<char>(maskCase(caseWeight));
    }

    void addKana(uint8_t weight, uint8_t diacritic, uint8_t bits, uint8_t shape) {
        primary_ += static_cast<char>(kKanaScript);
        primary_ += static_cast<char>(weight);
        diacritic_ += static_cast<char>(diacritic);
        case_ += '\x02';
        kana_[0] += static_cast<char>(0xC4 | (bits & 0x02));
        kana_[1] += static_cast<char>(shape);
        kana_[2] += static_cast<char>(0xC4 | (bits & 0x20));
        kana_[3] += static_cast<char>(0xC4 | (bits & 0x01));
        hasKana_ = true;
    }

    // A mark weighs as the character before it, leaving out nonspacing marks and other marks;
    // after kana it is kana of that reading (a prolonged sound mark takes only the vowel).
    void addMark(uint32_t mark) {
        for (auto it = seen_.rbegin(); it != seen_.rend(); ++it) {
            uint32_t before = *it;
            switch (kindOf(before)) {
            case kIgnored:
            case kNonspacing:
            case kMark:
                continue;
            case kExpansion:
                break;
            case kNormal:
                addNormal(before, 2);
                return;
            case kPunctuation:
                primary_ += '\x06';
                primary_ += static_cast<char>(byte0(before));
                diacritic_ += static_cast<char>(diacriticOf(before));
                case_ += '\x02';
                return;
            case kKana: {
                bool prolonged = (mark & 1) != 0;
                uint8_t weight = prolonged ? byte0(before) & 0x87 : byte0(before);
                uint8_t bits = byte1(before);
                if (prolonged) bits = static_cast<uint8_t>((bits & ~1u) | (byte1(mark) & 1));
                addKana(weight, diacriticOf(mark), bits, prolonged ? 5 : 4);
                return;
            }
            }
            break;
        }
        primary_ += "\xFF\xFF"; // nothing to take the weight of
    }

    template <typename IsDefault>
    static std::string trimmed(const std::string& level, IsDefault isDefault) {
        std::size_t end = level.size();
        while (end > 0 && isDefault(static_cast<uint8_t>(level[end - 1])))
            --end;
        return level.substr(0, end);
    }

    bool ignoreCase_;
    bool hasKana_ = false;
    std::string primary_, diacritic_, case_, special_;
    std::string kana_[4];
    std::vector<uint32_t> seen_;
};

std::string sortKey(const char* text, bool ignoreCase) {
    KeyBuilder builder(ignoreCase);
    for (const char* p = text; *p != '\0'; p = next(p))
        builder.add(weightsOf(characterCode(p)));
    return builder.key();
}

} // namespace

int compareWordSort(const char* a, const char* b, bool ignoreCase) {
    int order = sortKey(a, ignoreCase).compare(sortKey(b, ignoreCase));
    return (order > 0) - (order < 0);
}

} // namespace cp932
