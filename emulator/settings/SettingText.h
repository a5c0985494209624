// Text helpers the settings table and the settings reader share.
#pragma once

#include <string>

// Without the blanks at either end.
std::string trimSetting(const std::string& s);
