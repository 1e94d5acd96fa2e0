#pragma once
#import <Foundation/Foundation.h>

#define API_AVAILABLE(...)

typedef struct CGImage* CGImageRef;
typedef CGFloat NSFontWeight;
extern const NSFontWeight NSFontWeightRegular;
typedef NSString* NSImageName;
extern NSImageName const NSImageNameApplicationIcon;

@interface NSGraphicsContext : NSObject
@end

@interface NSImageSymbolConfiguration : NSObject
+ (instancetype)configurationWithPointSize:(CGFloat)pointSize weight:(NSFontWeight)weight;
@end

@interface NSImage : NSObject
+ (instancetype)imageWithSystemSymbolName:(NSString*)name accessibilityDescription:(NSString*)description;
+ (NSImage*)imageNamed:(NSImageName)name;
- (NSImage*)imageWithSymbolConfiguration:(NSImageSymbolConfiguration*)configuration;
- (void)setTemplate:(BOOL)isTemplate;
@property NSSize size;
- (CGImageRef)CGImageForProposedRect:(NSRect*)proposedDestRect
                             context:(NSGraphicsContext*)referenceContext
                               hints:(NSDictionary*)hints;
@end

typedef enum : NSUInteger {
  NSBitmapImageFileTypeTIFF = 0,
  NSBitmapImageFileTypeBMP = 1,
  NSBitmapImageFileTypeGIF = 2,
  NSBitmapImageFileTypeJPEG = 3,
  NSBitmapImageFileTypePNG = 4,
} NSBitmapImageFileType;
@interface NSBitmapImageRep : NSObject
- (instancetype)initWithCGImage:(CGImageRef)cgImage;
- (NSData*)representationUsingType:(NSBitmapImageFileType)storageType properties:(NSDictionary*)properties;
@end

typedef enum : NSInteger {
  NSApplicationActivationPolicyRegular = 0,
  NSApplicationActivationPolicyAccessory = 1,
  NSApplicationActivationPolicyProhibited = 2,
} NSApplicationActivationPolicy;
@interface NSApplication : NSObject
+ (NSApplication*)sharedApplication;
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
- (void)activate API_AVAILABLE(macos(14.0));
- (void)activateIgnoringOtherApps:(BOOL)flag;
@end

typedef NSInteger NSWindowLevel;
static const NSWindowLevel NSFloatingWindowLevel = 3;
// An NS_OPTIONS type in the SDK: the constants combine with | and & as
// NSUInteger values.
typedef NSUInteger NSWindowCollectionBehavior;
static const NSWindowCollectionBehavior NSWindowCollectionBehaviorDefault = 0;
static const NSWindowCollectionBehavior NSWindowCollectionBehaviorCanJoinAllSpaces = 1 << 0;
static const NSWindowCollectionBehavior NSWindowCollectionBehaviorMoveToActiveSpace = 1 << 1;
static const NSWindowCollectionBehavior NSWindowCollectionBehaviorFullScreenPrimary = 1 << 7;
static const NSWindowCollectionBehavior NSWindowCollectionBehaviorFullScreenAuxiliary = 1 << 8;
static const NSWindowCollectionBehavior NSWindowCollectionBehaviorFullScreenNone = 1 << 9;
@class NSView;
@interface NSWindow : NSObject
@property NSWindowLevel level;
@property NSWindowCollectionBehavior collectionBehavior;
@property BOOL hidesOnDeactivate;
- (void)makeKeyAndOrderFront:(id)sender;
- (void)orderFrontRegardless;
@end
@interface NSView : NSObject
@property(readonly) NSWindow* window;
@end

@interface NSRunningApplication : NSObject
@property(readonly, copy) NSString* bundleIdentifier;
@end

extern NSString* const NSWorkspaceApplicationKey;
extern NSNotificationName const NSWorkspaceDidActivateApplicationNotification;
extern NSNotificationName const NSWorkspaceDidTerminateApplicationNotification;
@interface NSWorkspace : NSObject
@property(class, readonly, strong) NSWorkspace* sharedWorkspace;
@property(readonly, strong) NSNotificationCenter* notificationCenter;
@property(readonly, copy) NSArray<NSRunningApplication*>* runningApplications;
@end
