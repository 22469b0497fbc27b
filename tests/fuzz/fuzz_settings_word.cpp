// Fuzz target: the settings word from arbitrary field texts is sent only when it is 24
// printable bytes, and fields of the right lengths always make such a word.
#include "capture/settings_word.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon;
    if (size < 4) {
        return 0;
    }
    const int rates[] = {1, 10, 100, 1000, data[0]};
    const int rate = rates[data[0] % 5];
    // Three fields separated at positions taken from the input itself.
    const std::string rest(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::size_t a = data[1] % (rest.size() + 1);
    const std::size_t b = a + data[2] % (rest.size() - a + 1);
    std::string trigPos = rest.substr(0, a);
    std::string pattern = rest.substr(a, b - a);
    const std::string genType = rest.substr(b);
    for (bool limited : {false, true}) {
        if (limited) { // what the fields let through
            trigPos = trigPos.substr(0, kTrigPosMaxLength);
            pattern = pattern.substr(0, kTrigPatternMaxLength);
        }
        const std::string word = ComposeSettingsWord(rate, trigPos, pattern, genType);
        if (word.compare(0, 3, "000") != 0 || word.compare(3, 2, RateCode(rate)) != 0) {
            std::abort();
        }
        // Framed only when whole and printable, and then unchanged.
        const auto framed = FrameSettingsWord(word);
        if (framed.has_value() != (word.size() == 24 && !HasControlCharacter(word))) {
            std::abort();
        }
        if (framed && std::string(framed->data(), framed->size()) != word) {
            std::abort();
        }
        if (!WrongLengthField(trigPos, pattern, genType) && word.size() != 24) {
            std::abort();
        }
    }
    return 0;
}
