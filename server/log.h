#pragma once

// One line on standard error with a UTC time stamp.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
