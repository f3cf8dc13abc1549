#include "headTracking/common/types.h"

extern "C" const char* quilo_face_detector_backend_to_string(int backend) {
    switch (backend) {
        case kQuiloFaceDetectorBackendCPU: return "kQuiloFaceDetectorBackendCPU";
        case kQuiloFaceDetectorBackendGPU: return "kQuiloFaceDetectorBackendGPU";
        default: return "kQuiloFaceDetectorBackendUnknown";
    }
}
