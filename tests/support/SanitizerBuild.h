// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whether this test was built with AddressSanitizer, where everything runs
// several times slower and size limits of load tests are scaled down.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif
