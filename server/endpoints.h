#pragma once

#include <QString>

#include <cstdint>

// The vendor's server scripts. Every one is reached by a form POST; all but
// the call save go to the main server address.
namespace Endpoints {

inline constexpr char16_t ActiveList[] = u"/manage/datapile.php";
inline constexpr char16_t DormantList[] = u"/manage/dormantpile.php";
inline constexpr char16_t Statistics[] = u"/quickstats.php";
inline constexpr char16_t CallList[] = u"/manage/callpile.php";
inline constexpr char16_t StateCodes[] = u"/statecount.php";
inline constexpr char16_t DormantMove[] = u"/manage/dormantcontact.php";
inline constexpr char16_t NewCustomer[] = u"/manage/newguy.php";
inline constexpr char16_t ModifyCustomer[] = u"/manage/modify.php";
inline constexpr char16_t SaveCall[] = u"/manage/savecall.php";

// A script's address: base address + path.
QString Address(const QString& baseAddress, QStringView path);
// The dormant move carries the customer's identifier in its query.
QString DormantMoveAddress(const QString& baseAddress, std::int32_t customerId);

} // namespace Endpoints
