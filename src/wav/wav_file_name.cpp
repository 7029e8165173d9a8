#include "wav/wav_file_name.h"

std::string withoutWavSuffix(const std::string& path) {
    if (path.size() < 4) {
        return path;
    }
    const char* tail = path.c_str() + path.size() - 4;
    for (int i = 0; i < 4; ++i) {
        const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? char(tail[i] - 'A' + 'a') : tail[i];
        if (c != ".wav"[i]) {
            return path;
        }
    }
    return path.substr(0, path.size() - 4);
}
