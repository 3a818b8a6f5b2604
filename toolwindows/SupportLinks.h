#pragma once

// The maker's support endpoints, shown by the about box and named in the support file's
// questions.
namespace SupportLinks {
inline constexpr char WebPage[] = "https://www.orvane.example/support";
inline constexpr char EmailAddress[] = "support@orvane.example";
} // namespace SupportLinks
