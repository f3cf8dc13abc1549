// Runs an ONNX model through OpenCV's dnn module, as the face detector does,
// for the converter's tests:
//   quiloDnnRun MODEL INPUT OUTPUT_NAME OUT_FILE [OUTPUT_NAME OUT_FILE]...
// INPUT holds the NCHW input as raw float32, preceded by its dimension count
// (4) and dimensions as int32; each OUT_FILE gets the named output the same
// way. Exit status 1 with a message when OpenCV refuses the model.
//   quiloDnnRun --crop IMAGE CX CY SIDE SIZE LOW HIGH INPUT
// writes such an INPUT: the square of SIDE pixels centred on (CX, CY) of
// IMAGE, area-resized to SIZE x SIZE, RGB, pixel values mapped to LOW..HIGH.
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

cv::Mat readBlob(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::int32_t count = 0;
    in.read(reinterpret_cast<char*>(&count), sizeof count);
    if (!in || count != 4) throw std::runtime_error(path + ": not a four-dimensional blob");
    std::int32_t dims[4] = {};
    in.read(reinterpret_cast<char*>(dims), sizeof dims);
    for (const std::int32_t d : dims)
        if (!in || d <= 0 || d > 4096) throw std::runtime_error(path + ": bad dimensions");
    cv::Mat blob(4, dims, CV_32F);
    in.read(reinterpret_cast<char*>(blob.ptr<float>()), static_cast<std::streamsize>(blob.total() * sizeof(float)));
    if (!in) throw std::runtime_error(path + ": shorter than its dimensions say");
    return blob;
}

void writeBlob(const std::string& path, const cv::Mat& blob) {
    std::ofstream out(path, std::ios::binary);
    const std::int32_t count = blob.dims;
    out.write(reinterpret_cast<const char*>(&count), sizeof count);
    for (int i = 0; i < blob.dims; ++i) {
        const std::int32_t d = blob.size[i];
        out.write(reinterpret_cast<const char*>(&d), sizeof d);
    }
    const cv::Mat dense = blob.isContinuous() ? blob : blob.clone();
    out.write(reinterpret_cast<const char*>(dense.ptr<float>()),
              static_cast<std::streamsize>(dense.total() * sizeof(float)));
    if (!out) throw std::runtime_error(path + ": could not be written");
}

int crop(char** argv) {
    cv::Mat image = cv::imread(argv[2]);
    if (image.empty()) throw std::runtime_error(std::string(argv[2]) + ": not an image");
    cv::cvtColor(image, image, cv::COLOR_BGR2RGB);
    const float side = std::stof(argv[5]);
    const int size = std::stoi(argv[6]);
    const double low = std::stod(argv[7]), high = std::stod(argv[8]);
    cv::Mat square;
    cv::getRectSubPix(image, cv::Size(cvRound(side), cvRound(side)),
                      cv::Point2f(std::stof(argv[3]), std::stof(argv[4])), square);
    cv::resize(square, square, cv::Size(size, size), 0, 0, cv::INTER_AREA);
    cv::Mat scaled;
    square.convertTo(scaled, CV_32F, (high - low) / 255.0, low);
    writeBlob(argv[9], cv::dnn::blobFromImage(scaled));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 10 && std::string(argv[1]) == "--crop") {
        try {
            return crop(argv);
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return 1;
        }
    }
    if (argc < 5 || (argc - 3) % 2 != 0) {
        std::cerr << "usage: " << argv[0] << " MODEL INPUT OUTPUT_NAME OUT_FILE...\n";
        return 2;
    }
    try {
        cv::dnn::Net net = cv::dnn::readNetFromONNX(argv[1]);
        net.setInput(readBlob(argv[2]));
        std::vector<std::string> names;
        for (int i = 3; i < argc; i += 2) names.emplace_back(argv[i]);
        std::vector<cv::Mat> outputs;
        net.forward(outputs, names);
        for (size_t i = 0; i < names.size(); ++i) writeBlob(argv[4 + 2 * i], outputs[i]);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
