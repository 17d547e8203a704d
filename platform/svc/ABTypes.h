#pragma once

#include <cstdint>

namespace svc {

// Identifiers and property types of the address book's records (the platform's values).
using ABRecordID = int32_t;
using ABPropertyID = int32_t;
using ABPropertyType = uint32_t;
using ABMultiValueIdentifier = int32_t;

inline constexpr ABRecordID kABRecordInvalidID = -1;
inline constexpr ABMultiValueIdentifier kABMultiValueInvalidIdentifier = -1;

inline constexpr ABPropertyType kABInvalidPropertyType = 0;
inline constexpr ABPropertyType kABStringPropertyType = 1;
inline constexpr ABPropertyType kABIntegerPropertyType = 2;
inline constexpr ABPropertyType kABRealPropertyType = 3;
inline constexpr ABPropertyType kABDateTimePropertyType = 4;
inline constexpr ABPropertyType kABDictionaryPropertyType = 5;
inline constexpr ABPropertyType kABMultiValueMask = 256;
inline constexpr ABPropertyType kABMultiStringPropertyType = 257;
inline constexpr ABPropertyType kABMultiIntegerPropertyType = 258;
inline constexpr ABPropertyType kABMultiRealPropertyType = 259;
inline constexpr ABPropertyType kABMultiDateTimePropertyType = 260;
inline constexpr ABPropertyType kABMultiDictionaryPropertyType = 261;

enum class ABRecordType { Person = 0, Group = 1 };

// Person properties.
inline constexpr ABPropertyID kABPersonFirstNameProperty = 0;
inline constexpr ABPropertyID kABPersonLastNameProperty = 1;
inline constexpr ABPropertyID kABPersonMiddleNameProperty = 6;
inline constexpr ABPropertyID kABPersonPrefixProperty = 7;
inline constexpr ABPropertyID kABPersonSuffixProperty = 8;
inline constexpr ABPropertyID kABPersonNicknameProperty = 9;
inline constexpr ABPropertyID kABPersonOrganizationProperty = 10;
inline constexpr ABPropertyID kABPersonJobTitleProperty = 18;
inline constexpr ABPropertyID kABPersonDepartmentProperty = 19;
inline constexpr ABPropertyID kABPersonNoteProperty = 14;
inline constexpr ABPropertyID kABPersonBirthdayProperty = 17;
inline constexpr ABPropertyID kABPersonKindProperty = 16;
inline constexpr ABPropertyID kABPersonPhoneProperty = 3;
inline constexpr ABPropertyID kABPersonEmailProperty = 4;
inline constexpr ABPropertyID kABPersonAddressProperty = 5;
inline constexpr ABPropertyID kABPersonDateProperty = 12;
inline constexpr ABPropertyID kABPersonURLProperty = 22;
// Group properties.
inline constexpr ABPropertyID kABGroupNameProperty = 0;

// Labels of multi-value entries.
inline constexpr const char* kABHomeLabel = "_$!<Home>!$_";
inline constexpr const char* kABWorkLabel = "_$!<Work>!$_";
inline constexpr const char* kABOtherLabel = "_$!<Other>!$_";
inline constexpr const char* kABPersonPhoneMobileLabel = "_$!<Mobile>!$_";

}  // namespace svc
