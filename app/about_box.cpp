#include "app/about_box.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui_text.h"

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutBox"));
  setWindowTitle(UiText(texts::Id::kAboutTitle));
  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QStringLiteral(":/icons/tracker-console.svg")).pixmap(48, 48));
  icon->setAccessibleName(UiText(texts::Id::kAppTitle));
  auto* text = new QLabel(UiText(texts::Id::kAboutText), this);
  text->setObjectName(QStringLiteral("aboutText"));
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* ok = new QPushButton(UiText(texts::Id::kOk), this);
  ok->setObjectName(QStringLiteral("aboutOk"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addWidget(text, 1);
  row->addWidget(ok, 0, Qt::AlignTop);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  setSizeGripEnabled(false);
}
