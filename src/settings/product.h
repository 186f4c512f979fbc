#pragma once

// The program's name and its maker's home page. The address has no trailing slash: the report footers add one.
namespace product {

constexpr const char kProgramName[] = "Tunegrove";
constexpr const char kHomePage[] = "https://kestrine.example.com/tunegrove";

} // namespace product
