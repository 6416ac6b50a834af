#include "ui/main/pages/page_set.h"

#include "ui/main/pages/z1_page.h"
#include "ui/main/pages/z2_page.h"
#include "ui/main/pages/z3_page.h"

#include <QLayout>

namespace varnix {

TPageSet::TPageSet(IPageHost& host, TSheets sheets, QObject* parent)
    : QObject(parent), host_(host), sheets_(sheets) {}

TZ1Page& TPageSet::Z1() {
    if (z1_ == nullptr) {
        z1_ = new TZ1Page(host_, sheets_.Z1);
        sheets_.Z1->layout()->addWidget(z1_);
        z1_->ApplyTexts();
        z1_->SetLanTabActive(lan_);
        connect(z1_, &TZ1Page::NetSaveRequested, this, &TPageSet::Z1NetSaveRequested);
        connect(z1_, &TZ1Page::SerialSaveRequested, this, &TPageSet::Z1SerialSaveRequested);
        emit Built(z1_);
    }
    return *z1_;
}

TZ2Page& TPageSet::Z2() {
    if (z2_ == nullptr) {
        z2_ = new TZ2Page(host_, sheets_.Z2);
        sheets_.Z2->layout()->addWidget(z2_);
        z2_->ApplyTexts();
        z2_->SetLanTabActive(lan_);
        z2_->SetDataDebugAvailable(dataDebug_);
        connect(z2_, &TZ2Page::NetSaveRequested, this, &TPageSet::Z2NetSaveRequested);
        connect(z2_, &TZ2Page::SerialSaveRequested, this, &TPageSet::Z2SerialSaveRequested);
        emit Built(z2_);
    }
    return *z2_;
}

TZ3Page& TPageSet::Z3() {
    if (z3_ == nullptr) {
        z3_ = new TZ3Page(host_, sheets_.Z3);
        sheets_.Z3->layout()->addWidget(z3_);
        z3_->ApplyTexts();
        connect(z3_, &TZ3Page::NetSaveRequested, this, &TPageSet::Z3NetSaveRequested);
        emit Built(z3_);
    }
    return *z3_;
}

void TPageSet::BuildAll() {
    Z1();
    Z2();
    Z3();
}

QWidget* TPageSet::WidestSheet() {
    Z2();
    return sheets_.Z2;
}

QWidget* TPageSet::Window() const {
    return sheets_.Z2->window();
}

void TPageSet::ApplyTexts() {
    if (z1_ != nullptr)
        z1_->ApplyTexts();
    if (z2_ != nullptr)
        z2_->ApplyTexts();
    if (z3_ != nullptr)
        z3_->ApplyTexts();
}

void TPageSet::SetLanTabActive(bool lan) {
    lan_ = lan;
    if (z1_ != nullptr)
        z1_->SetLanTabActive(lan);
    if (z2_ != nullptr)
        z2_->SetLanTabActive(lan);
}

void TPageSet::SetDataDebugAvailable(bool available) {
    dataDebug_ = available;
    if (z2_ != nullptr)
        z2_->SetDataDebugAvailable(available);
}

void TPageSet::ClearLanPages() {
    if (z2_ != nullptr)
        z2_->ClearSettings();
    if (z3_ != nullptr)
        z3_->ClearSettings();
}

} // namespace varnix
