// Plugins that fail in one way each, chosen at build time:
//   QUILO_TEST_NULL_CREATE      create returns null
//   QUILO_TEST_THROWING_CREATE  create throws std::runtime_error
//   QUILO_TEST_NO_CREATE        the create function is exported under a wrong name
//   QUILO_TEST_NO_DELETE        the delete function is exported under a wrong name
//   QUILO_TEST_UNRESOLVED       needs a function no library provides
// Each also exports TestPlugin_Name, returning QUILO_TEST_PLUGIN_NAME.
#include <stdexcept>

#include "common/export.h"
#include "headTracking/engine/blinkDetector.h"

namespace head = quilo::head;

#if defined(QUILO_TEST_UNRESOLVED)
extern "C" void quiloTestUndefinedFunction();
#endif

#if defined(QUILO_TEST_NO_CREATE)
#define QUILO_TEST_CREATE Plugin_MakeBlinkDetector
#else
#define QUILO_TEST_CREATE Plugin_CreateBlinkDetector
#endif

#if defined(QUILO_TEST_NO_DELETE)
#define QUILO_TEST_DELETE Plugin_DestroyBlinkDetector
#else
#define QUILO_TEST_DELETE Plugin_DeleteBlinkDetector
#endif

QUILO_PLUGIN_EXPORT head::FaceDetector* QUILO_TEST_CREATE(const head::BlinkDetectorConfiguration&,
                                                          quilo::AssetManager*) {
#if defined(QUILO_TEST_THROWING_CREATE)
    throw std::runtime_error("scripted create failure");
#elif defined(QUILO_TEST_UNRESOLVED)
    quiloTestUndefinedFunction();
#endif
    return nullptr;
}

QUILO_PLUGIN_EXPORT void QUILO_TEST_DELETE(head::FaceDetector*) {}

QUILO_PLUGIN_EXPORT const char* TestPlugin_Name() { return QUILO_TEST_PLUGIN_NAME; }
