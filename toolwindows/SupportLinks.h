#pragma once

// The maker's support endpoints, shown by the about box, named in the support file's questions
// and opened from the main window's Help menu with the maker's home page.
namespace SupportLinks {
inline constexpr char WebPage[] = "https://www.orvane.example/support";
inline constexpr char HomePage[] = "https://www.orvane.example/";
inline constexpr char EmailAddress[] = "support@orvane.example";
} // namespace SupportLinks
