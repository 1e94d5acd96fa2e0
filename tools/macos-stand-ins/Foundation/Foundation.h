#pragma once
#import <CoreFoundation/CoreFoundation.h>

#define nil nullptr
typedef signed char BOOL;
#define YES ((BOOL)1)
#define NO ((BOOL)0)
typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef double CGFloat;
typedef double NSTimeInterval;
typedef NSUInteger NSStringEncoding;
static const NSStringEncoding NSUTF8StringEncoding = 4;
static const NSInteger NSNotFound = 0x7fffffffffffffffL;

typedef struct { NSUInteger location, length; } NSRange;
typedef struct { CGFloat x, y; } NSPoint;
typedef struct { CGFloat width, height; } NSSize;
typedef struct { NSPoint origin; NSSize size; } NSRect;
static inline NSSize NSMakeSize(CGFloat w, CGFloat h) { return NSSize{w, h}; }
static inline NSRect NSMakeRect(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return NSRect{{x, y}, {w, h}}; }

@class NSString;
@protocol NSObject
@end
@protocol NSCopying
@end
@interface NSObject <NSObject> {
  Class isa;
}
+ (instancetype)alloc;
+ (Class)class;
- (instancetype)init;
- (BOOL)isKindOfClass:(Class)aClass;
@property(readonly, copy) NSString* description;
@end

typedef struct {
  unsigned long state;
  id __unsafe_unretained* itemsPtr;
  unsigned long* mutationsPtr;
  unsigned long extra[5];
} NSFastEnumerationState;
@protocol NSFastEnumeration
- (NSUInteger)countByEnumeratingWithState:(NSFastEnumerationState*)state
                                  objects:(id __unsafe_unretained[])buffer
                                    count:(NSUInteger)len;
@end

@interface NSData : NSObject
@property(readonly) const void* bytes;
@property(readonly) NSUInteger length;
@end

@interface NSCharacterSet : NSObject
+ (NSCharacterSet*)characterSetWithCharactersInString:(NSString*)aString;
@end

@interface NSString : NSObject <NSCopying>
- (instancetype)initWithBytes:(const void*)bytes length:(NSUInteger)len encoding:(NSStringEncoding)encoding;
- (NSData*)dataUsingEncoding:(NSStringEncoding)encoding;
- (BOOL)isEqualToString:(NSString*)aString;
- (NSRange)rangeOfCharacterFromSet:(NSCharacterSet*)searchSet;
@end

@interface NSNumber : NSObject
@property(readonly) BOOL boolValue;
@end

@interface NSDate : NSObject
+ (instancetype)dateWithTimeIntervalSince1970:(NSTimeInterval)secs;
@property(readonly) NSTimeInterval timeIntervalSince1970;
@end

@interface NSArray<ObjectType> : NSObject <NSFastEnumeration>
+ (instancetype)array;
@end
@interface NSMutableArray<ObjectType> : NSArray <ObjectType>
- (void)addObject:(ObjectType)anObject;
@end

@interface NSDictionary<KeyType, ObjectType> : NSObject <NSFastEnumeration>
+ (instancetype)dictionaryWithObjects:(const ObjectType _Nonnull[])objects
                              forKeys:(const KeyType<NSCopying> _Nonnull[])keys
                                count:(NSUInteger)cnt;
- (ObjectType)objectForKeyedSubscript:(KeyType)key;
@end

@interface NSUserDefaults : NSObject
@property(class, readonly, strong) NSUserDefaults* standardUserDefaults;
- (instancetype)initWithSuiteName:(NSString*)suitename;
- (id)objectForKey:(NSString*)defaultName;
- (void)setObject:(id)value forKey:(NSString*)defaultName;
- (void)setBool:(BOOL)value forKey:(NSString*)defaultName;
- (void)removeObjectForKey:(NSString*)defaultName;
- (NSDictionary<NSString*, id>*)dictionaryRepresentation;
@end

@interface NSBundle : NSObject
@property(class, readonly, strong) NSBundle* mainBundle;
@property(readonly, copy) NSDictionary<NSString*, id>* infoDictionary;
@property(readonly, copy) NSString* bundleIdentifier;
@property(readonly, copy) NSString* bundlePath;
@end

@interface NSLocale : NSObject
@property(class, readonly, copy) NSLocale* currentLocale;
@property(readonly, copy) NSString* localeIdentifier;
@end

@interface NSDateFormatter : NSObject
+ (NSString*)dateFormatFromTemplate:(NSString*)tmplate options:(NSUInteger)opts locale:(NSLocale*)locale;
@end

typedef NSString* NSErrorDomain;
typedef NSString* NSErrorUserInfoKey;
extern NSErrorDomain const NSPOSIXErrorDomain;
extern NSErrorUserInfoKey const NSUnderlyingErrorKey;
@interface NSError : NSObject
@property(readonly, copy) NSErrorDomain domain;
@property(readonly) NSInteger code;
@property(readonly, copy) NSDictionary<NSErrorUserInfoKey, id>* userInfo;
@property(readonly, copy) NSString* localizedDescription;
@end

@interface NSURL : NSObject
+ (NSURL*)fileURLWithFileSystemRepresentation:(const char*)path
                                  isDirectory:(BOOL)isDir
                                relativeToURL:(NSURL*)baseURL;
@property(readonly) const char* fileSystemRepresentation;
@end

@protocol NSFilePresenter <NSObject>
@end
typedef enum : NSUInteger {
  NSFileCoordinatorWritingForDeleting = 1 << 0,
  NSFileCoordinatorWritingForMoving = 1 << 1,
  NSFileCoordinatorWritingForMerging = 1 << 2,
  NSFileCoordinatorWritingForReplacing = 1 << 3,
  NSFileCoordinatorWritingContentIndependentMetadataOnly = 1 << 4,
} NSFileCoordinatorWritingOptions;
@interface NSFileCoordinator : NSObject
- (instancetype)initWithFilePresenter:(id<NSFilePresenter>)filePresenterOrNil;
- (void)coordinateWritingItemAtURL:(NSURL*)url
                           options:(NSFileCoordinatorWritingOptions)options
                             error:(NSError**)outError
                        byAccessor:(void (^)(NSURL* newURL))writer;
@end

typedef NSString* NSNotificationName;
@interface NSNotification : NSObject
@property(readonly, copy) NSDictionary* userInfo;
@end
@interface NSOperationQueue : NSObject
@property(class, readonly, strong) NSOperationQueue* mainQueue;
- (void)addOperationWithBlock:(void (^)(void))block;
@end
@interface NSNotificationCenter : NSObject
- (id<NSObject>)addObserverForName:(NSNotificationName)name
                            object:(id)obj
                             queue:(NSOperationQueue*)queue
                        usingBlock:(void (^)(NSNotification* notification))block;
- (void)removeObserver:(id)observer;
@end
