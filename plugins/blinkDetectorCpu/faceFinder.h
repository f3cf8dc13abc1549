// Finds faces for the first time, and confirms followed ones.
//
// A full search runs one of OpenCV's boosted cascades of frontal faces
// (haarcascade_frontalface_alt2) over the image, then dlib's HOG face
// detector over the region of each candidate, enlarged or shrunk to put the
// face at 80 to 100 pixels. The cascade is fast and finds faces down to an
// eye distance of about 14 pixels: on an 848 x 480 frame it takes 10 to 15
// ms on one core, where dlib's detector takes about 29 ms and sees only faces
// of 80 pixels and more (an eye distance of about 28 pixels, a viewer within
// about a metre), or about 120 ms on the frame enlarged twice. dlib's
// detector then rejects what is no face and places the box that dlib's
// landmark model was trained with, which the cascade's boxes only
// approximate: on the annotated test photographs, over the faces with 15
// pixels or more between the eyes, the worst eye error is 0.11 eye distances
// from the cascade's boxes and 0.07 from dlib's.
//
// Confirming a followed face runs the cascade alone, over the region around
// the face at the few scales near its size, in less than a millisecond.
//
// Boxes come out in the landmark model's box convention. A finder keeps
// scratch memory: one thread at a time.
#pragma once

#include <string>
#include <vector>

#include <dlib/image_processing/frontal_face_detector.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "plugins/blinkDetectorCpu/landmarkModel.h"

namespace quilo::head::cpu {

class FaceFinder {
public:
    // Reads a cascade in OpenCV's XML format. Throws std::runtime_error when
    // the text is not a usable cascade.
    explicit FaceFinder(const std::string& cascadeXml);
    // Copies would share OpenCV's cascade and its scratch memory, so a
    // finder is only moved.
    FaceFinder(const FaceFinder&) = delete;
    FaceFinder& operator=(const FaceFinder&) = delete;
    FaceFinder(FaceFinder&&) = default;
    FaceFinder& operator=(FaceFinder&&) = default;

    // Every face whose eye distance is at least about `minEyeDistance` pixels,
    // largest first: the candidates, each placed by PlaceFace.
    std::vector<FaceBox> FindFaces(const cv::Mat& image, float minEyeDistance, bool inBetween = false);

    // The cascade's candidates for faces whose eye distance is at least about
    // `minEyeDistance` pixels, largest first, as estimates of the landmark
    // model's box. The cascade scans the image at the smallest resolution that
    // still shows such a face at the cascade's own size, and then at sizes
    // growing in steps of 1.25. Now and then a face between two steps goes
    // unnoticed; `inBetween` scans the sizes midway between those steps
    // instead (and from a slightly larger smallest face), so that searches
    // that alternate it leave no such gaps. The scanned image is widened by
    // repeating its border rows and columns, so that faces whose forehead,
    // chin or side lies beyond the image are found; with `roll` (radians) it
    // is turned so that faces rolled by about that much stand upright, and
    // the boxes are those of faces rolled by `roll` (the box turned about
    // its centre). With `normalise`, the scanned image's contrast is first
    // equalised locally, for dim or backlit faces.
    std::vector<FaceBox> FindCandidates(const cv::Mat& image, float minEyeDistance, bool inBetween, float roll = 0.0f,
                                        bool normalise = false);

    // The box of dlib's detector for the face near `box` (a landmark model
    // box, rolled by `roll`); false when it finds none there.
    bool PlaceFace(const cv::Mat& image, const FaceBox& box, FaceBox* placed, float roll = 0.0f);

    // The face of about the size of `box` (rolled by `roll`) that the cascade
    // finds nearest to it, as a landmark model box; false when there is none.
    // Scans only the region around the box at the few scales near the box's
    // size, its pixels beyond the image repeating the border; `reach` widens
    // the region (1: faces up to about one eye distance away, 2: three).
    bool FindNear(const cv::Mat& image, const FaceBox& box, float roll, FaceBox* found, float reach = 1.0f);

    // The quick look of FindNear: the face the cascade finds where `box`
    // is (its centre within about an eighth of the box's size away, its
    // size within about a quarter), in about 30 % less time than FindNear.
    bool FindAt(const cv::Mat& image, const FaceBox& box, float roll, FaceBox* found);

    // Cascade box (OpenCV's convention) to landmark model box, and back.
    static FaceBox ToModelBox(const cv::Rect2f& cascadeBox);
    static cv::Rect2f ToCascadeBox(const FaceBox& modelBox);

private:
    // The cascade over the region `region` times the size of `box` around
    // it, for faces `smallest` to `largest` times its size.
    bool Scan(const cv::Mat& image, const FaceBox& box, float roll, float region, float smallest, float largest,
              FaceBox* found);

    cv::CascadeClassifier cascade_;
    cv::Size window_;  // the cascade's own window
    dlib::frontal_face_detector hog_;
    cv::Mat scaled_;  // reused between calls
    cv::Mat turned_;
    std::vector<cv::Rect> found_;
    cv::Ptr<cv::CLAHE> clahe_;
};

}  // namespace quilo::head::cpu
