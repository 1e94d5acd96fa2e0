#pragma once
typedef const void* CFTypeRef;
typedef unsigned long CFTypeID;
#ifdef __cplusplus
extern "C" {
#endif
CFTypeID CFGetTypeID(CFTypeRef object);
CFTypeID CFBooleanGetTypeID(void);
#ifdef __cplusplus
}
#endif
