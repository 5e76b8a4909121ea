#pragma once
// The program's name and version as --version prints them. Plain C: the
// small entry answers --version before it loads any library.
inline constexpr const char kVersionLine[] = "灯火亭 (tomoshibi) 1.0\n";
