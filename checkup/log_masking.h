// The daily log with the card's data masked, for a support bundle. The log writes card data in
// three entries, each as the card's bytes (the system's ANSI code page) between brackets:
//   HC ID [<card identifier>]
//   basic [<card number><name><ID number><birth date><sex><issue date>]
//   hc card data [<card data>]
// Every field keeps its length and its first and last byte; the bytes between become '*'.
#pragma once

#include <string>
#include <string_view>

namespace qardex::checkup {

std::string MaskDailyLog(std::string_view log);

}  // namespace qardex::checkup
