// Marks the API of libagplatform, which is built with hidden visibility.
#pragma once
#define AG_PLATFORM_EXPORT __attribute__((visibility("default")))
