#include "testbed/vcard/card_profile.h"

namespace vcard {

Bytes pad_with_blanks(const Bytes& value, std::size_t width) {
    Bytes out = value;
    if (out.size() < width) out.resize(width, ' ');
    return out;
}

CardProfile default_profile() {
    CardProfile profile;
    const std::string_view fields[] = {
        "000012345678", "WANG XIAO MING", "A123456789", "0650412", "M", "1050101"};
    for (std::size_t i = 0; i < kBasicFields.size(); ++i) {
        const Bytes field = pad_with_blanks(bytes_of(fields[i]), kBasicFields[i].width);
        profile.basic_data.insert(profile.basic_data.end(), field.begin(), field.end());
    }
    profile.card_data = bytes_of("1000000");
    profile.card_id = bytes_of("000012345678");
    profile.sam_secret = bytes_of(kDefaultSamSecret);
    return profile;
}

}  // namespace vcard
