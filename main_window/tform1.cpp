// Construction of the main window: controls, defaults, enabled states and
// the wiring of every control signal to its handler through the guard.
#include "main_window/tform1.h"

#include "dialogs/tform2.h"
#include "dialogs/tform3.h"
#include "main_window/memo_log_sink.h"
#include "main_window/nal_legend.h"
#include "main_window/nal_unit_map.h"
#include "main_window/radio_group.h"
#include "main_window/up_down.h"
#include "runner/handler_guard.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int ClientWidth = 1272;
constexpr int ClientHeight = 716;

QLabel* label(const QString& text, QWidget* parent)
{
    return new QLabel(text, parent);
}

QLineEdit* edit(const QString& text, QWidget* parent, int width = 0)
{
    auto* e = new QLineEdit(text, parent);
    if (width > 0) e->setFixedWidth(width);
    return e;
}

QPushButton* button(const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setMinimumWidth(75);
    return b;
}

QGridLayout* grid(QWidget* parent)
{
    auto* g = new QGridLayout(parent);
    g->setContentsMargins(6, 4, 6, 4);
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(4);
    return g;
}

// A column of rows for controls that do not line up in columns.
QVBoxLayout* rows(QWidget* parent)
{
    auto* v = new QVBoxLayout(parent);
    v->setContentsMargins(6, 4, 6, 4);
    v->setSpacing(2);
    return v;
}

// One row of controls, left to right; nullptr stands for stretching space.
void addRow(QVBoxLayout* rows, std::initializer_list<QWidget*> widgets)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    for (QWidget* w : widgets) {
        if (w)
            row->addWidget(w);
        else
            row->addStretch();
    }
    rows->addLayout(row);
}

// A labelled path field: the label on its own row, then the edit with its
// Browse button beside it.
void fileField(QGridLayout* g, const QString& caption, QLabel*& captionLabel, QLineEdit*& field, QPushButton*& browse)
{
    QWidget* parent = g->parentWidget();
    const int row = g->count() == 0 ? 0 : g->rowCount();  // an empty grid reports one row
    captionLabel = label(caption, parent);
    field = edit(QString(), parent);
    // The field is narrow: a long path shows only its start, the tooltip all of it.
    QObject::connect(field, &QLineEdit::textChanged, field, &QWidget::setToolTip);
    browse = button(u"Browse..."_s, parent);
    g->addWidget(captionLabel, row, 0, 1, 2);
    g->addWidget(field, row + 1, 0);
    g->addWidget(browse, row + 1, 1);
}

// A group box filled by a tab control.
QTabWidget* tabsIn(QGroupBox* box)
{
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(6, 2, 6, 4);
    auto* tabs = new QTabWidget(box);
    layout->addWidget(tabs);
    return tabs;
}

// A tab page with its own grid; callers add rows.
QWidget* page(QTabWidget* tabs, const QString& caption)
{
    auto* p = new QWidget(tabs);
    tabs->addTab(p, caption);
    return p;
}

// Pushes the rows of a grid to the top of the space it has.
void closeRows(QGridLayout* g)
{
    g->setRowStretch(g->rowCount(), 1);
}

// Relays focus-in to a handler: an "Enter" event of a control.
class FocusRelay : public QObject {
public:
    FocusRelay(QObject* parent, std::function<void()> onEnter)
        : QObject(parent), onEnter_(std::move(onEnter)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn) {
            auto reason = static_cast<QFocusEvent*>(event)->reason();
            // Re-activating the window or closing a popup is not the user entering the control.
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) onEnter_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onEnter_;
};

} // namespace

TForm1::TForm1(kestrune::Prompts& prompts, QWidget* parent)
    : QMainWindow(parent), TForm1Parts(prompts)
{
    setWindowTitle(u"KESTRUNE v1.0"_s);
    // The window's layout was drawn for an 8-point (11-pixel) face.
    QFont face = font();
    face.setPixelSize(11);
    setFont(face);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    // The client area is fixed: a canvas of the exact size inside a layout
    // that refuses to grow, so no window manager can resize the window.
    auto* central = new QWidget(this);
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSizeConstraint(QLayout::SetFixedSize);
    auto* canvas = new QWidget(central);
    canvas->setObjectName(u"ClientArea"_s);
    canvas->setFixedSize(ClientWidth, ClientHeight);
    centralLayout->addWidget(canvas);
    setCentralWidget(central);

    GroupBox1 = new QGroupBox(u"Encoder Settings"_s, canvas);
    GroupBox1->setGeometry(8, 8, 361, 361);
    GroupBox9 = new QGroupBox(u"Channel Settings"_s, canvas);
    GroupBox9->setGeometry(8, 373, 361, 121);
    GroupBox10 = new QGroupBox(u"Decoder Settings"_s, canvas);
    GroupBox10->setGeometry(8, 495, 361, 217);
    GroupBox12 = new QGroupBox(u"H.264/AVC Stream Analyzer"_s, canvas);
    GroupBox12->setGeometry(376, 8, 889, 161);
    GroupBox13 = new QGroupBox(u"Output"_s, canvas);
    GroupBox13->setGeometry(376, 176, 889, 537);

    buildMenus();
    buildEncoderGroup();
    buildChannelGroup();
    buildDecoderGroup();
    buildAnalyzerGroup();
    buildOutputGroup();
    logSink_ = std::make_unique<MemoLogSink>(Memo1);
    connectHandlers();

    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    guard([this] { FormCreate(); });
    Form2 = new TForm2(this);
    Form3 = new TForm3(
        prompts, [this](kestrune::PlayerRole role, const QString& path) { storePlayerPath(role, path); }, this);
}

TForm1::~TForm1() = default;

void TForm1::guard(const std::function<void()>& handler)
{
    kestrune::runGuarded(prompts, handler);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    guard([this] { FormClose(); });
    event->accept();
}

void TForm1::buildMenus()
{
    File1 = menuBar()->addMenu(u"File"_s);
    Exit1 = File1->addAction(u"Exit"_s);
    Options1 = menuBar()->addMenu(u"Options"_s);
    H264VideoPlayer1 = Options1->addAction(u"H.264 Video Player..."_s);
    YUVSequencePlayer1 = Options1->addAction(u"YUV Sequence Player..."_s);
    buildViewMenu();
    Help1 = menuBar()->addMenu(u"Help"_s);
    About2 = Help1->addAction(u"About..."_s);

    PopupMenu1 = new QMenu(this);
    Properties1 = PopupMenu1->addAction(u"Properties..."_s);
    Delete1 = PopupMenu1->addAction(u"Remove this NALU..."_s);
}

void TForm1::buildEncoderGroup()
{
    PageControl1 = tabsIn(GroupBox1);

    // General
    TabSheet1 = page(PageControl1, u"General"_s);
    auto* general = grid(TabSheet1);
    GroupBox2 = new QGroupBox(u"Input/Output"_s, TabSheet1);
    auto* io = grid(GroupBox2);
    io->setVerticalSpacing(1);
    fileField(io, u"Input YUV File:"_s, LabeledEdit1Label, LabeledEdit1, Button1);
    fileField(io, u"Output File:"_s, LabeledEdit2Label, LabeledEdit2, Button2);
    general->addWidget(GroupBox2, 0, 0, 1, 4);

    GroupBox3 = new QGroupBox(u"Rate Control"_s, TabSheet1);
    auto* rate = grid(GroupBox3);
    Label1 = label(u"Encoding Mode:"_s, GroupBox3);
    ComboBox1 = new QComboBox(GroupBox3);
    ComboBox1->setEditable(true);
    // Typed text never becomes a mode item, and neither Enter nor the
    // completer picks an item by a case-blind match: only the exact text of an
    // item changes the mode.
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setDuplicatesEnabled(true);
    ComboBox1->completer()->setCaseSensitivity(Qt::CaseSensitive);
    ComboBox1->addItems({u"Average Bitrate (VBR)"_s, u"Constant Quantizer (QP Mode)"_s,
                         u"Constant Rate Factor (CRF)"_s});
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboBox1->setMinimumContentsLength(12);
    Label2 = label(u"Target Video Size:"_s, GroupBox3);
    Edit1 = edit(u"500"_s, GroupBox3, 70);
    Label3 = label(u"kbit/sec"_s, GroupBox3);
    rate->addWidget(Label1, 0, 0);
    rate->addWidget(ComboBox1, 0, 1, 1, 3);
    rate->addWidget(Label2, 1, 0);
    rate->addWidget(Edit1, 1, 1);
    rate->addWidget(Label3, 1, 2, 1, 2);

    TrackBar1 = new QSlider(Qt::Horizontal, GroupBox3);
    TrackBar1->setRange(0, 51);
    TrackBar1->setValue(26);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setTickInterval(1);
    TrackBar1->setPageStep(5);
    Edit2 = edit(u"26"_s, GroupBox3, 36);
    UpDown1 = new UpDown(0, 51, 26, GroupBox3);
    UpDown1->setAssociate(Edit2);
    UpDown1->setFixedSize(16, Edit2->sizeHint().height());
    auto* quantizer = new QHBoxLayout;
    quantizer->setSpacing(0);
    quantizer->addWidget(Edit2);
    quantizer->addWidget(UpDown1);
    Label4 = label(u"0 (High Quality)"_s, GroupBox3);
    Label5 = label(u"51 (Low Quality)"_s, GroupBox3);
    Label5->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* track = grid(nullptr);
    track->setContentsMargins(0, 0, 0, 0);
    track->setVerticalSpacing(0);
    track->addWidget(TrackBar1, 0, 0, 1, 2);
    track->addWidget(Label4, 1, 0);
    track->addWidget(Label5, 1, 1);
    rate->addLayout(track, 2, 0, 1, 3);
    rate->addLayout(quantizer, 2, 3, Qt::AlignTop);
    rate->setColumnStretch(2, 1);
    general->addWidget(GroupBox3, 1, 0, 1, 4);

    LabeledEdit5Label = label(u"Input Width:"_s, TabSheet1);
    LabeledEdit5 = edit(QString(), TabSheet1, 55);
    LabeledEdit7Label = label(u"Input Height:"_s, TabSheet1);
    LabeledEdit7 = edit(QString(), TabSheet1, 55);
    Button3 = button(u"Encode"_s, TabSheet1);
    auto* size = new QHBoxLayout;
    size->addWidget(LabeledEdit5Label);
    size->addWidget(LabeledEdit5);
    size->addSpacing(8);
    size->addWidget(LabeledEdit7Label);
    size->addWidget(LabeledEdit7);
    size->addStretch();
    general->addLayout(size, 2, 0, 1, 4);
    general->addWidget(Button3, 3, 3, Qt::AlignRight);
    closeRows(general);

    // Motion Estimation
    TabSheet2 = page(PageControl1, u"Motion Estimation"_s);
    auto* motion = grid(TabSheet2);
    RadioGroup1 = new RadioGroup(u"Motion Search Method"_s,
                                 {u"Diamond Searc (DIA)"_s, u"Hexagonal Search (HEX)"_s,
                                  u"Uneven Multi-Hexagon Search (UMH)"_s},
                                 TabSheet2);
    RadioGroup1->setItemIndex(1);
    motion->addWidget(RadioGroup1, 0, 0, 1, 3);
    Label6 = label(u"Number of Reference Frames:"_s, TabSheet2);
    Edit3 = edit(u"1"_s, TabSheet2, 50);
    Label7 = label(u"Motion Vector Search Range:"_s, TabSheet2);
    Edit4 = edit(u"16"_s, TabSheet2, 50);
    CheckBox1 = new QCheckBox(u"Chroma Motion Estimation"_s, TabSheet2);
    CheckBox1->setChecked(true);
    motion->addWidget(Label6, 1, 0);
    motion->addWidget(Edit3, 1, 1);
    motion->addWidget(Label7, 2, 0);
    motion->addWidget(Edit4, 2, 1);
    motion->addWidget(CheckBox1, 3, 0, 1, 3);
    motion->setColumnStretch(2, 1);
    closeRows(motion);

    // Partition
    TabSheet3 = page(PageControl1, u"Partition"_s);
    auto* partition = grid(TabSheet3);
    GroupBox4 = new QGroupBox(u"Partition Sizes"_s, TabSheet3);
    auto* sizes = grid(GroupBox4);
    CheckBox2 = new QCheckBox(u"i8x8"_s, GroupBox4);
    CheckBox3 = new QCheckBox(u"i4x4"_s, GroupBox4);
    CheckBox4 = new QCheckBox(u"p8x8"_s, GroupBox4);
    CheckBox5 = new QCheckBox(u"p4x4"_s, GroupBox4);
    CheckBox2->setChecked(true);
    CheckBox3->setChecked(true);
    CheckBox4->setChecked(true);
    CheckBox5->setChecked(false);
    sizes->addWidget(CheckBox2, 0, 0);
    sizes->addWidget(CheckBox3, 1, 0);
    sizes->addWidget(CheckBox4, 2, 0);
    sizes->addWidget(CheckBox5, 3, 0);
    partition->addWidget(GroupBox4, 0, 0);
    closeRows(partition);

    // Analysis
    TabSheet4 = page(PageControl1, u"Analysis"_s);
    auto* analysis = grid(TabSheet4);
    analysis->setVerticalSpacing(2);
    GroupBox5 = new QGroupBox(u"Encoding Settings"_s, TabSheet4);
    auto* settings = rows(GroupBox5);
    Label8 = label(u"Min GOP Size:"_s, GroupBox5);
    Edit5 = edit(u"25"_s, GroupBox5, 40);
    Label9 = label(u"Max GOP Size:"_s, GroupBox5);
    Edit6 = edit(u"250"_s, GroupBox5, 40);
    Label10 = label(u"Scene-cut Threshold:"_s, GroupBox5);
    Edit7 = edit(u"40"_s, GroupBox5, 40);
    Label11 = label(u"%"_s, GroupBox5);
    Label16 = label(u"Frame Rate:"_s, GroupBox5);
    Edit13 = edit(u"25"_s, GroupBox5, 40);
    Label17 = label(u"Frames to ecnode:"_s, GroupBox5);
    Edit14 = edit(u"All"_s, GroupBox5, 40);
    Edit14->setToolTip(u"To encode all frames write \"All\""_s);
    CheckBox7 = new QCheckBox(u"Compute PSNR"_s, GroupBox5);
    CheckBox7->setChecked(true);
    addRow(settings, {Label8, Edit5, nullptr, Label9, Edit6});
    addRow(settings, {Label10, Edit7, Label11, nullptr});
    addRow(settings, {Label16, Edit13, nullptr, Label17, Edit14});
    addRow(settings, {CheckBox7});
    analysis->addWidget(GroupBox5, 0, 0);

    GroupBox6 = new QGroupBox(u"Multislicing Settings"_s, TabSheet4);
    auto* slices = rows(GroupBox6);
    RadioButton1 = new QRadioButton(u"Fixed-length Slices"_s, GroupBox6);
    RadioButton2 = new QRadioButton(u"Variable-length Slices"_s, GroupBox6);
    RadioButton1->setChecked(true);
    Label12 = label(u"Number of Slices:"_s, GroupBox6);
    Edit8 = edit(u"1"_s, GroupBox6, 50);
    Label13 = label(u"Maximum Slice Size:"_s, GroupBox6);
    Edit9 = edit(u"1500"_s, GroupBox6, 50);
    Label14 = label(u"Bytes"_s, GroupBox6);
    for (QWidget* w : {static_cast<QWidget*>(Edit9), static_cast<QWidget*>(Label13), static_cast<QWidget*>(Label14)})
        w->setEnabled(false);
    addRow(slices, {RadioButton1, nullptr, RadioButton2, nullptr});
    addRow(slices, {Label12, Edit8, nullptr});
    addRow(slices, {Label13, Edit9, Label14, nullptr});
    analysis->addWidget(GroupBox6, 1, 0);

    GroupBox7 = new QGroupBox(u"Flexible Macroblock Ordering"_s, TabSheet4);
    auto* fmo = grid(GroupBox7);
    CheckBox6 = new QCheckBox(u"Use FMO Type 1"_s, GroupBox7);
    Label15 = label(u"Number of Slice Groups:"_s, GroupBox7);
    Edit10 = edit(u"2"_s, GroupBox7, 40);
    Edit10->setToolTip(u"The number of slice groups must be in set {2,4,6,8}"_s);
    Edit10->setEnabled(false);
    Label15->setEnabled(false);
    fmo->addWidget(CheckBox6, 0, 0);
    fmo->addWidget(Label15, 0, 1, Qt::AlignRight);
    fmo->addWidget(Edit10, 0, 2);
    analysis->addWidget(GroupBox7, 2, 0);
    closeRows(analysis);

    // Quantizer controls start disabled: the default mode is average bitrate.
    for (QWidget* w : {static_cast<QWidget*>(TrackBar1), static_cast<QWidget*>(UpDown1),
                       static_cast<QWidget*>(Edit2), static_cast<QWidget*>(Label4),
                       static_cast<QWidget*>(Label5)})
        w->setEnabled(false);
    PageControl1->setCurrentIndex(0);
}

void TForm1::buildChannelGroup()
{
    PageControl2 = tabsIn(GroupBox9);

    TabSheet5 = page(PageControl2, u"Gilbert Model"_s);
    auto* gilbert = grid(TabSheet5);
    gilbert->setVerticalSpacing(2);
    Label18 = label(u"Loss Rate:"_s, TabSheet5);
    Edit11 = edit(u"5"_s, TabSheet5, 45);
    Label19 = label(u"%"_s, TabSheet5);
    Label20 = label(u"Average Burst Error Length:"_s, TabSheet5);
    Edit12 = edit(u"2"_s, TabSheet5, 45);
    Button4 = button(u"Apply"_s, TabSheet5);
    gilbert->addWidget(Label18, 0, 0);
    gilbert->addWidget(Edit11, 0, 1);
    gilbert->addWidget(Label19, 0, 2);
    gilbert->addWidget(Label20, 1, 0);
    gilbert->addWidget(Edit12, 1, 1);
    gilbert->addWidget(Button4, 1, 4);
    gilbert->setColumnStretch(3, 1);
    closeRows(gilbert);

    TabSheet6 = page(PageControl2, u"Output"_s);
    auto* output = grid(TabSheet6);
    output->setVerticalSpacing(1);
    fileField(output, u"Output File:"_s, LabeledEdit6Label, LabeledEdit6, Button9);
    closeRows(output);
    PageControl2->setCurrentIndex(0);
}

void TForm1::buildDecoderGroup()
{
    PageControl3 = tabsIn(GroupBox10);

    TabSheet7 = page(PageControl3, u"General"_s);
    auto* general = grid(TabSheet7);
    GroupBox11 = new QGroupBox(u"Input/Output"_s, TabSheet7);
    auto* io = grid(GroupBox11);
    io->setVerticalSpacing(1);
    fileField(io, u"Input H.264 File:"_s, LabeledEdit3Label, LabeledEdit3, Button5);
    fileField(io, u"Output YUV File:"_s, LabeledEdit4Label, LabeledEdit4, Button6);
    general->addWidget(GroupBox11, 0, 0, 1, 3);
    Button10 = button(u"Decode"_s, TabSheet7);
    Button8 = button(u"Play YUV File"_s, TabSheet7);
    general->addWidget(Button10, 1, 1);
    general->addWidget(Button8, 1, 2);
    general->setColumnStretch(0, 1);
    closeRows(general);

    TabSheet8 = page(PageControl3, u"Error Concealment"_s);
    auto* concealment = grid(TabSheet8);
    RadioGroup2 = new RadioGroup(u"Error Concealment Method for I-frames"_s,
                                 {u"None"_s, u"Average DC"_s, u"Average Macroblock"_s,
                                  u"Bilinear Interpolation"_s},
                                 TabSheet8);
    RadioGroup2->setColumns(2);
    RadioGroup2->setItemIndex(0);
    RadioGroup3 = new RadioGroup(u"Error Concealment Method for P-frames"_s,
                                 {u"None"_s, u"Boundary Matching Algorithm"_s}, TabSheet8);
    RadioGroup3->setColumns(2);
    RadioGroup3->setItemIndex(0);
    concealment->addWidget(RadioGroup2, 0, 0);
    concealment->addWidget(RadioGroup3, 1, 0);
    closeRows(concealment);
    PageControl3->setCurrentIndex(0);
}

void TForm1::buildAnalyzerGroup()
{
    // Source box and Play on the left, counters in the middle, legend on the
    // right, the map along the bottom.
    auto* source = new QWidget(GroupBox12);
    source->setGeometry(8, 18, 232, 80);
    auto* sourceGrid = grid(source);
    sourceGrid->setContentsMargins(0, 0, 0, 0);
    Label21 = label(u"Input File:"_s, source);
    ComboBox2 = new QComboBox(source);
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);  // typed text never becomes a source item
    ComboBox2->addItems({u"Encoder Output"_s, u"Channel Output"_s});
    ComboBox2->setCurrentIndex(-1);
    ComboBox2->setEditText(u"Select one source..."_s);
    ComboBox2->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboBox2->setMinimumContentsLength(12);
    Button7 = button(u"Play"_s, source);
    sourceGrid->addWidget(Label21, 0, 0);
    sourceGrid->addWidget(ComboBox2, 0, 1);
    sourceGrid->addWidget(Button7, 1, 1, Qt::AlignLeft);
    sourceGrid->setColumnStretch(1, 1);
    closeRows(sourceGrid);

    auto* counters = new QWidget(GroupBox12);
    counters->setGeometry(248, 18, 500, 80);
    auto* counterGrid = grid(counters);
    counterGrid->setContentsMargins(0, 0, 0, 0);
    counterGrid->setHorizontalSpacing(4);
    counterGrid->setVerticalSpacing(2);
    auto counter = [&](QLabel*& caption, QLabel*& value, const QString& text, int row, int pair) {
        caption = label(text, counters);
        value = label(u"-"_s, counters);
        caption->setMinimumWidth(caption->sizeHint().width());
        value->setMinimumWidth(40);
        counterGrid->addWidget(caption, row, pair * 2);
        counterGrid->addWidget(value, row, pair * 2 + 1);
    };
    counter(ISlicesCaption, ISlicesValue, u"Number of I-slices:"_s, 0, 0);
    counter(PSlicesCaption, PSlicesValue, u"Number of P-slices:"_s, 1, 0);
    counter(BSlicesCaption, BSlicesValue, u"Number of B-slices:"_s, 2, 0);
    counter(SeisCaption, SeisValue, u"Number of SEIs:"_s, 0, 1);
    counter(SpssCaption, SpssValue, u"Number of SPSs:"_s, 1, 1);
    counter(PpssCaption, PpssValue, u"Number of PPSs:"_s, 2, 1);
    counter(TotalNalUnitsCaption, TotalNalUnitsValue, u"Total Number of NAL units:"_s, 0, 2);
    counter(CurrentNalCaption, CurrentNalValue, u"Current NAL#:"_s, 1, 2);
    counterGrid->setColumnStretch(6, 1);
    closeRows(counterGrid);

    LegendArea = new NalLegend(GroupBox12);
    LegendArea->setObjectName(u"LegendArea"_s);
    LegendArea->setGeometry(752, 18, 129, 82);

    StringGrid1 = new NalUnitMap(GroupBox12);
    StringGrid1->setGeometry(8, 104, 873, 46);
    StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
}

void TForm1::buildOutputGroup()
{
    Memo1 = new QPlainTextEdit(GroupBox13);
    Memo1->setGeometry(8, 22, 873, 513);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Memo2 = new QPlainTextEdit(GroupBox13);
    Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo2->hide();

    // The log fills the group; Clear sits on the group's title line.
    BitBtn1 = new QPushButton(u"Clear"_s, GroupBox13);
    const int clearWidth = std::max(75, BitBtn1->sizeHint().width());
    BitBtn1->setGeometry(889 - 8 - clearWidth, 0, clearWidth, 21);
}

void TForm1::connectHandlers()
{
    auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
        connect(sender, signal, this, [this, handler] { guard([this, handler] { (this->*handler)(); }); });
    };
    auto onEdit = [this, on](QLineEdit* e, void (TForm1::*handler)()) { on(e, &QLineEdit::textChanged, handler); };
    // A combo box changes when the user picks an item or types; programmatic
    // changes of its text do not count.
    auto onCombo = [this, on](QComboBox* c, void (TForm1::*handler)()) {
        on(c, &QComboBox::activated, handler);
        on(c->lineEdit(), &QLineEdit::textEdited, handler);
    };
    auto onEnter = [this](QWidget* w, void (TForm1::*handler)()) {
        w->installEventFilter(new FocusRelay(w, [this, handler] { guard([this, handler] { (this->*handler)(); }); }));
    };

    on(Exit1, &QAction::triggered, &TForm1::Exit1Click);
    on(About2, &QAction::triggered, &TForm1::About2Click);
    on(H264VideoPlayer1, &QAction::triggered, &TForm1::H264VideoPlayer1Click);
    on(YUVSequencePlayer1, &QAction::triggered, &TForm1::YUVSequencePlayer1Click);
    on(Properties1, &QAction::triggered, &TForm1::Properties1Click);
    on(Delete1, &QAction::triggered, &TForm1::Delete1Click);
    on(BitBtn1, &QPushButton::clicked, &TForm1::BitBtn1Click);

    onCombo(ComboBox1, &TForm1::ComboBox1Change);
    on(TrackBar1, &QSlider::valueChanged, &TForm1::TrackBar1Change);
    on(UpDown1, &UpDown::changing, &TForm1::UpDown1Changing);
    onEdit(Edit2, &TForm1::Edit2Change);
    onEnter(RadioButton1, &TForm1::RadioButton1Enter);
    onEnter(RadioButton2, &TForm1::RadioButton2Enter);
    // A click focuses the button; clicking the focused one again changes nothing.
    on(RadioButton1, &QRadioButton::clicked, &TForm1::RadioButton1Enter);
    on(RadioButton2, &QRadioButton::clicked, &TForm1::RadioButton2Enter);
    on(CheckBox6, &QCheckBox::toggled, &TForm1::CheckBox6Click);
    onEdit(Edit5, &TForm1::Edit5Change);
    onEdit(Edit10, &TForm1::Edit10Change);
    on(Button1, &QPushButton::clicked, &TForm1::Button1Click);
    on(Button2, &QPushButton::clicked, &TForm1::Button2Click);
    on(Button3, &QPushButton::clicked, &TForm1::Button3Click);

    onCombo(ComboBox2, &TForm1::ComboBox2Change);
    connect(StringGrid1, &NalUnitMap::cellSelected, this, [this](int column, int row) {
        guard([this, column, row] { StringGrid1SelectCell(column, row); });
    });
    connect(StringGrid1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(StringGrid1->mapToGlobal(at)); });

    on(Button4, &QPushButton::clicked, &TForm1::Button4Click);
    on(Button9, &QPushButton::clicked, &TForm1::Button9Click);
    on(Button5, &QPushButton::clicked, &TForm1::Button5Click);
    on(Button6, &QPushButton::clicked, &TForm1::Button6Click);
    on(Button10, &QPushButton::clicked, &TForm1::Button10Click);
    on(Button7, &QPushButton::clicked, &TForm1::Button7Click);
    on(Button8, &QPushButton::clicked, &TForm1::Button8Click);
}
