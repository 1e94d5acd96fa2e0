#pragma once
#import <Foundation/Foundation.h>

#include <stdint.h>

typedef int32_t OSStatus;
typedef unsigned char Boolean;
typedef uint32_t FourCharCode;
typedef FourCharCode DescType;
typedef FourCharCode AEEventClass;
typedef FourCharCode AEEventID;
typedef struct OpaqueAEDataStorageType* AEDataStorage;
typedef struct AEDesc {
  DescType descriptorType;
  AEDataStorage dataHandle;
} AEDesc;
typedef AEDesc AEAddressDesc;

enum { noErr = 0 };
enum { typeWildCard = '****' };
enum { errAEEventNotPermitted = -1743, errAEEventWouldRequireUserConsent = -1744 };

OSStatus AEDeterminePermissionToAutomateTarget(const AEAddressDesc* target, AEEventClass theAEEventClass,
                                               AEEventID theAEEventID, Boolean askUserIfNeeded);

// (Foundation's, which builds on these types.)
@interface NSAppleEventDescriptor : NSObject
+ (NSAppleEventDescriptor*)descriptorWithBundleIdentifier:(NSString*)bundleIdentifier;
@property(readonly) const AEDesc* aeDesc;
@end
