// The shapes of the areas that the household function reads ahead of the
// join (see PXCPHouseholdDataFunction::shapes_).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include <ogr_geometry.h>

#include "PXCP/PXCPHouseholdDataFunction.h"
#include "host/gis/PointIndex.h"

namespace pxcp {

class PXCPHouseholdDataFunction::ShapeStore {
public:
    // Keeps a copy of the shape; returns its handle.
    int64_t Add(const OGRGeometry& g) {
        int64_t handle;
        g.exportToWkb(wkbNDR, Reserve(g.WkbSize(), handle));
        return handle;
    }
    // Keeps a copy of a shapefile's shape record; returns its handle.
    int64_t Add(std::string_view record) {
        int64_t handle;
        unsigned char* at = Reserve(4 + record.size(), handle);
        uint32_t length = static_cast<uint32_t>(record.size());
        std::memcpy(at, &length, 4);
        std::memcpy(at + 4, record.data(), record.size());
        return handle;
    }
    // The shape record of a handle that Add(record) gave.
    std::string_view Record(int64_t handle) const {
        const unsigned char* at = At(handle);
        uint32_t length;
        std::memcpy(&length, at, 4);
        return std::string_view(reinterpret_cast<const char*>(at + 4), length);
    }
    // A new geometry from the shape of the handle.
    std::unique_ptr<OGRGeometry> Make(int64_t handle) const {
        OGRGeometry* g = nullptr;
        OGRGeometryFactory::createFromWkb(At(handle), nullptr, &g, -1);
        return std::unique_ptr<OGRGeometry>(g);
    }

private:
    static constexpr size_t kBlockSize = size_t{16} << 20;
    // Room for size bytes, and the handle that finds them again.
    unsigned char* Reserve(size_t size, int64_t& handle) {
        if (blocks_.empty() || used_ + size > blockSize_) NewBlock(std::max(size, kBlockSize));
        handle = static_cast<int64_t>(blocks_.size() - 1) << 32 | static_cast<int64_t>(used_);
        unsigned char* at = blocks_.back().get() + used_;
        used_ += size;
        return at;
    }
    const unsigned char* At(int64_t handle) const {
        return blocks_[static_cast<size_t>(handle >> 32)].get() + (handle & 0xffffffff);
    }
    void NewBlock(size_t size) {
        blocks_.emplace_back(new unsigned char[size]);
        host::gis::PrepareToFill(blocks_.back().get(), size);
        blockSize_ = size;
        used_ = 0;
    }
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    size_t used_ = 0, blockSize_ = 0;
};

}  // namespace pxcp
