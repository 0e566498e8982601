#include "host/gis/Cursor.h"

#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogrsf_frmts.h>

#include "host/gis/GdalSupport.h"
#include "host/gis/Table.h"
#include "host/gis/Workspace.h"

namespace host::gis {

Cursor::Cursor(std::shared_ptr<const Table> table, std::shared_ptr<GDALDataset> ds, OGRLayer* layer, bool recycling)
    : table_(std::move(table)), ds_(std::move(ds)), layer_(layer), recycling_(recycling) {}
Cursor::Cursor(std::shared_ptr<const Table> table, std::shared_ptr<GDALDataset> ds, OGRLayer* layer,
               std::vector<long long> ids, bool recycling)
    : table_(std::move(table)), ds_(std::move(ds)), layer_(layer), recycling_(recycling), byId_(true), ids_(std::move(ids)) {}
Cursor::~Cursor() = default;

RowPtr Cursor::NextRow() {
    OGRFeature* f = nullptr;
    if (byId_) {
        while (!f && next_ < ids_.size()) f = layer_->GetFeature(static_cast<GIntBig>(ids_[next_++]));
    } else {
        f = layer_->GetNextFeature();
    }
    if (!f) {
        current_.reset();
        return nullptr;
    }
    if (recycling_ && current_) {
        current_->Reset(std::unique_ptr<OGRFeature>(f));
        return current_;
    }
    current_ = std::make_shared<Row>(table_, std::unique_ptr<OGRFeature>(f));
    return current_;
}

// ---------------- InsertCursor ----------------

InsertCursor::InsertCursor(std::shared_ptr<Table> table, bool buffered) : table_(std::move(table)), buffered_(buffered) {
    if (buffered_ && table_->ws_ && table_->ws_->Kind() == WorkspaceKind::GeoPackage) {
        inTransaction_ = table_->ds_->StartTransaction() == OGRERR_NONE;
    }
}

InsertCursor::~InsertCursor() {
    try {
        Flush();
    } catch (...) {
    }
}

RowPtr InsertCursor::CreateBuffer() {
    return std::make_shared<Row>(table_, std::unique_ptr<OGRFeature>(new OGRFeature(table_->layer_->GetLayerDefn())));
}

long InsertCursor::Insert(const Row& buffer) {
    OGRFeature* f = buffer.Ogr();
    f->SetFID(OGRNullFID);
    // A column of multi-part shapes (in a database) takes a one-part shape as
    // a collection of one.
    OGRwkbGeometryType column = table_->layer_->GetGeomType();
    if (OGRGeometry* g = f->GetGeometryRef(); g && OGR_GT_IsSubClassOf(column, wkbGeometryCollection) &&
                                              !OGR_GT_IsSubClassOf(wkbFlatten(g->getGeometryType()), wkbGeometryCollection))
        f->SetGeometryDirectly(OGRGeometryFactory::forceTo(f->StealGeometry(), wkbFlatten(column)));
    if (table_->layer_->CreateFeature(f) != OGRERR_NONE) RaiseGdal("The row could not be written to " + table_->Name());
    ++pending_;
    return static_cast<long>(f->GetFID());
}

void InsertCursor::Flush() {
    if (inTransaction_) {
        inTransaction_ = false;
        if (table_->ds_->CommitTransaction() != OGRERR_NONE) RaiseGdal("The rows could not be committed");
    }
    table_->counter_ = Table::Reader();
    if (pending_) {
        table_->layer_->SyncToDisk();
        pending_ = 0;
    }
}

}  // namespace host::gis
