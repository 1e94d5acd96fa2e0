#pragma once
#import <Foundation/Foundation.h>

@protocol OS_os_log <NSObject>
@end
typedef NSObject<OS_os_log>* os_log_t;
typedef enum : unsigned char {
  OS_LOG_TYPE_DEFAULT = 0x00,
  OS_LOG_TYPE_INFO = 0x01,
  OS_LOG_TYPE_DEBUG = 0x02,
  OS_LOG_TYPE_ERROR = 0x10,
  OS_LOG_TYPE_FAULT = 0x11,
} os_log_type_t;
#ifdef __cplusplus
extern "C" {
#endif
os_log_t os_log_create(const char* subsystem, const char* category);
// A macro in the SDK that takes a literal format; a function here.
void os_log_with_type(os_log_t log, os_log_type_t type, const char* format, ...);
#ifdef __cplusplus
}
#endif
