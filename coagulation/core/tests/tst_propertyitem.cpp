#include "propertyitem.h"

#include <QtCore/QSet>
#include <QtCore/QTranslator>
#include <QtTest/QAbstractItemModelTester>
#include <QtTest/QtTest>

// Logs what the tree tells it: childChanged and reset calls, destruction.
class RecordingItem : public PropertyItem
{
public:
    RecordingItem(const QString &name, QStringList *log)
        : PropertyItem(name, 0)
        , m_log(log)
    { }
    ~RecordingItem() override { record("~" + name()); }
    int type() const override { return 1; }
    void reset() override
    {
        record("reset " + name());
        PropertyItem::reset();
    }

protected:
    void childChanged(PropertyItem *child) override
    {
        record(name() + " <- " + child->name());
        PropertyItem::childChanged(child);
    }

private:
    void record(const QString &line)
    {
        if (m_log)
            m_log->append(line);
    }
    QStringList *m_log;
};

// Builds items from "a(a1,a2),b" under parent.
static void build(PropertyItem *parent, const QString &outline, QStringList *log = nullptr)
{
    PropertyItem *last = nullptr;
    QString name;
    QList<PropertyItem *> stack{parent};
    for (const QChar c : outline + ',') {
        if (QStringLiteral("(),").contains(c) && !name.isEmpty()) {
            last = new RecordingItem(name, log);
            stack.last()->append(last);
            name.clear();
        }
        if (c == '(')
            stack.append(last);
        else if (c == ')')
            stack.removeLast();
        else if (c != ',')
            name += c;
    }
}

static QString shape(const PropertyItem *item)
{
    QStringList parts;
    for (const PropertyItem *child : item->children()) {
        const QString below = shape(child);
        parts << (below.isEmpty() ? child->name() : child->name() + '(' + below + ')');
    }
    return parts.join(',');
}

static PropertyItem *find(PropertyItem *item, const QString &name)
{
    for (PropertyItem *child : item->children()) {
        if (child->name() == name)
            return child;
        if (PropertyItem *found = find(child, name))
            return found;
    }
    return nullptr;
}

// Empty when every item below `item` points back at its parent, carries its
// parent's model and is listed only once.
static QString inconsistency(const PropertyItem *item, QSet<const PropertyItem *> &seen)
{
    for (const PropertyItem *child : item->children()) {
        if (child->parent() != item || child->model() != item->model() || seen.contains(child))
            return child->name() + " is misplaced";
        seen.insert(child);
        const QString below = inconsistency(child, seen);
        if (!below.isEmpty())
            return below;
    }
    return QString();
}

// Attaches the toolkit's model tester and logs every row signal as
// "<kind> <parent> <row> [<item at that row>]", checking at each delivery that
// the tree is consistent and the parent index current.
class Recorder : public QObject
{
public:
    Recorder(PropertyItemModel *model, QStringList *log, const QString &prefix = QString())
        : m_model(model)
    {
        new QAbstractItemModelTester(model, QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     this);
        const auto watch = [=](auto signal, const QString &kind, bool showItem) {
            connect(model, signal, this, [=](const QModelIndex &parent, int first, int last) {
                QString line = prefix + kind + ' ' + nameOf(parent) + ' ' + QString::number(first);
                if (showItem)
                    line += ' ' + nameOf(model->index(first, 0, parent));
                log->append(line);
                QSet<const PropertyItem *> seen;
                const QString fault = inconsistency(model->rootItem(), seen);
                if (!fault.isEmpty() || first != last
                    || parent != model->nameIndexFromItem(model->itemFromIndex(parent)))
                    problems << line + ": " + fault;
            });
        };
        watch(&QAbstractItemModel::rowsAboutToBeInserted, "insert?", false);
        watch(&QAbstractItemModel::rowsInserted, "insert!", true);
        watch(&QAbstractItemModel::rowsAboutToBeRemoved, "remove?", true);
        watch(&QAbstractItemModel::rowsRemoved, "remove!", false);
    }

    QString nameOf(const QModelIndex &index) const
    {
        return index.isValid() ? m_model->itemFromIndex(index)->name() : QStringLiteral("root");
    }

    QStringList problems;

private:
    PropertyItemModel *m_model;
};

class tst_PropertyItem : public QObject
{
    Q_OBJECT

private slots:
    void newItem();
    void flagOperations();
    void itemSetData_data();
    void itemSetData();
    void setDataComparesAcrossTypes_data();
    void setDataComparesAcrossTypes();
    void childChangedClimbs();
    void structure_data();
    void structure();
    void moveAcrossModels();
    void resetReachesEveryItem();
    void destruction();
    void copies();
    void indexScheme();
    void modelData();
    void modelSetData();
    void modelFlagsAndBuddy();
    void headers();
};

static const QString initialTree = QStringLiteral("a(a1(a11),a2),b(b1),c");

void tst_PropertyItem::newItem()
{
    const PropertyItem item;
    QCOMPARE(int(item.flags()), 0x23);
    QVERIFY(item.isEditable());
    QCOMPARE(item.type(), 0);
    QVERIFY(!item.value().isValid());
    QVERIFY(item.children().isEmpty());
    QVERIFY(!item.parent() && !item.model());
    QVERIFY(!item.index().isValid() && !item.valueIndex().isValid());

    const PropertyItem five(QStringLiteral("n"), 5);
    QCOMPARE(five.value(), QVariant(5));
    QVERIFY(!five.data(Qt::EditRole).isValid());
}

void tst_PropertyItem::flagOperations()
{
    PropertyItemModel model;
    auto *item = new PropertyItem(QStringLiteral("x"), 1);
    model.append(item);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    item->changeFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable, false);
    QCOMPARE(item->flags(), Qt::ItemIsSelectable | Qt::ItemIsEditable);
    item->setEditable(false);
    item->changeFlags(Qt::ItemIsDragEnabled, true);
    QCOMPARE(item->flags(), Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
    item->setFlags(Qt::ItemIsEnabled);
    item->setName(QStringLiteral("y"));
    QCOMPARE(item->name(), QStringLiteral("y"));
    QCOMPARE(changed.count(), 0);
}

void tst_PropertyItem::itemSetData_data()
{
    QTest::addColumn<QVariant>("tip"); // role 3 before the call
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<QVariant>("value"); // role 0 afterwards
    QTest::addColumn<QVariant>("tipAfter");
    QTest::addColumn<QStringList>("log"); // dataChanged of the value cell, parent notifications

    const QVariant none;
    const QStringList announced{"changed x"};
    const QStringList notified{"changed x", "p <- x"};
    QTest::newRow("edit role, same value")
        << none << 2 << QVariant(5) << QVariant(5) << none << QStringList();
    QTest::newRow("edit role folds into value")
        << none << 2 << QVariant(6) << QVariant(6) << none << notified;
    QTest::newRow("invalid value is stored") << none << 0 << none << none << none << notified;
    QTest::newRow("tooltip set") << none << 3 << QVariant("t") << QVariant(5) << QVariant("t")
                                 << announced;
    QTest::newRow("tooltip removed")
        << QVariant("t") << 3 << none << QVariant(5) << none << announced;
    QTest::newRow("absent tooltip cleared")
        << none << 3 << none << QVariant(5) << none << QStringList();
}

void tst_PropertyItem::itemSetData()
{
    QFETCH(QVariant, tip);
    QFETCH(int, role);
    QFETCH(QVariant, input);

    QStringList log;
    PropertyItemModel model;
    Recorder recorder(&model, &log);
    auto *parent = new RecordingItem(QStringLiteral("p"), &log);
    auto *item = new PropertyItem(QStringLiteral("x"), 5);
    model.append(parent);
    parent->append(item);
    if (tip.isValid())
        item->setData(tip, Qt::ToolTipRole);
    connect(&model, &QAbstractItemModel::dataChanged, this,
            [&](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                QCOMPARE(topLeft, item->valueIndex());
                QCOMPARE(bottomRight, topLeft);
                log << "changed " + recorder.nameOf(topLeft);
            });
    log.clear();

    item->setData(input, role);
    QTEST(item->value(), "value");
    QTEST(item->data(Qt::ToolTipRole), "tipAfter");
    QVERIFY(!item->data(Qt::EditRole).isValid());
    QTEST(log, "log");
}

// A value that equals the stored one after conversion is no change: a
// colour's name typed over the colour announces nothing, in either build.
void tst_PropertyItem::setDataComparesAcrossTypes_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<bool>("changes");

    const QVariant red = QColor(255, 0, 0);
    QTest::newRow("colour name over colour") << red << QVariant("#ff0000") << false;
    QTest::newRow("colour over its name") << QVariant("#ff0000") << red << false;
    QTest::newRow("other colour name") << red << QVariant("#00ff00") << true;
    QTest::newRow("text over bytes") << QVariant(QByteArray("abc")) << QVariant("abc") << false;
    QTest::newRow("digits over number") << QVariant(5) << QVariant("5") << false;
    QTest::newRow("number over digits") << QVariant("5") << QVariant(5) << false;
    QTest::newRow("boolean over digit") << QVariant("1") << QVariant(true) << true;
    QTest::newRow("word over boolean") << QVariant(true) << QVariant("true") << false;
    QTest::newRow("nearly equal reals") << QVariant(0.3) << QVariant(0.1 + 0.2) << false;
    QTest::newRow("different reals") << QVariant(0.3) << QVariant(0.31) << true;
    QTest::newRow("list of digits over numbers")
        << QVariant(QVariantList{1, 2}) << QVariant(QVariantList{"1", "2"}) << false;
    QTest::newRow("invalid over text") << QVariant("") << QVariant() << true;
}

void tst_PropertyItem::setDataComparesAcrossTypes()
{
    QFETCH(QVariant, stored);
    QFETCH(QVariant, input);
    QFETCH(bool, changes);

    PropertyItemModel model;
    auto *item = new PropertyItem(QStringLiteral("x"), stored);
    model.append(item);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    item->setData(input, Qt::EditRole);
    QCOMPARE(changed.size(), changes ? 1 : 0);
    const QVariant expected = changes ? input : stored;
    QCOMPARE(item->value().userType(), expected.userType());
}

void tst_PropertyItem::childChangedClimbs()
{
    QStringList log;
    PropertyItemModel model;
    build(model.rootItem(), QStringLiteral("a(b(c))"), &log);
    PropertyItem *c = find(model.rootItem(), QStringLiteral("c"));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    c->setValue(1, false);
    QVERIFY(log.isEmpty());
    c->setValue(2, true);
    QCOMPARE(log, QStringList({"b <- c", "a <- b"}));
    QCOMPARE(changed.count(), 2);

    // A free item stores the value and tells nobody.
    PropertyItem free;
    free.setValue(3, true);
    QCOMPARE(free.value(), QVariant(3));
}

// action: "<operation> <target> <item> [position]"; a new item "n" is made
// when the item is not in the tree, "-" is null, "root" the model's root item,
// "other" another model's root. log: the row signals, separated by "; ".
static void addStructureRow(const char *tag, const char *action, const char *log,
                            const QString &after)
{
    QTest::newRow(tag) << QString::fromLatin1(action).split(' ')
                       << QString::fromLatin1(log).split("; ", Qt::SkipEmptyParts) << after;
}

void tst_PropertyItem::structure_data()
{
    QTest::addColumn<QStringList>("action");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("after");

    addStructureRow("append", "append b n", "insert? b 1; insert! b 1 n",
                    "a(a1(a11),a2),b(b1,n),c");
    addStructureRow("insert clamped below", "insert a n -3", "insert? a 0; insert! a 0 n",
                    "a(n,a1(a11),a2),b(b1),c");
    addStructureRow("insert between", "insert a n 1", "insert? a 1; insert! a 1 n",
                    "a(a1(a11),n,a2),b(b1),c");
    addStructureRow("insert clamped above", "insert a n 99", "insert? a 2; insert! a 2 n",
                    "a(a1(a11),a2,n),b(b1),c");
    addStructureRow("remove", "remove a a1", "remove? a 0 a1; remove! a 0", "a(a2),b(b1),c");
    addStructureRow("remove non-child", "remove a b1", "", initialTree);
    addStructureRow("delete listed item", "delete - a1", "remove? a 0 a1; remove! a 0",
                    "a(a2),b(b1),c");
    addStructureRow("move down", "append b a1",
                    "remove? a 0 a1; remove! a 0; insert? b 1; insert! b 1 a1",
                    "a(a2),b(b1,a1(a11)),c");
    // b moves up a row with the removal: the insertion must be announced under its new row.
    addStructureRow("move into later sibling", "append b a",
                    "remove? root 0 a; remove! root 0; insert? b 1; insert! b 1 a",
                    "b(b1,a(a1(a11),a2)),c");
    addStructureRow("move up through the model", "modelappend - b1",
                    "remove? b 0 b1; remove! b 0; insert? root 3; insert! root 3 b1",
                    "a(a1(a11),a2),b,c,b1");
    addStructureRow("move deep by insert", "insert a11 c 5",
                    "remove? root 2 c; remove! root 2; insert? a11 0; insert! a11 0 c",
                    "a(a1(a11(c)),a2),b(b1)");

    // Refused with a warning: the tree and the views stay as they were.
    addStructureRow("refuse null", "append c -", "", initialTree);
    addStructureRow("refuse own child by append", "append a a2", "", initialTree);
    addStructureRow("refuse own child by insert", "insert a a2 0", "", initialTree);
    addStructureRow("refuse itself", "append a a", "", initialTree);
    addStructureRow("refuse own child's list", "append a1 a", "", initialTree);
    addStructureRow("refuse own grandchild's list", "insert a11 a 0", "", initialTree);
    addStructureRow("refuse own model's root", "append c root", "", initialTree);
    addStructureRow("refuse another model's root", "append c other", "", initialTree);
}

void tst_PropertyItem::structure()
{
    QFETCH(QStringList, action);

    QStringList log;
    PropertyItemModel model, other;
    PropertyItem *const root = model.rootItem();
    Recorder recorder(&model, &log);
    build(root, initialTree);
    log.clear();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    const QString &operation = action.at(0), &name = action.at(2);
    PropertyItem *parent = find(root, action.at(1));
    PropertyItem *item = name == "root" ? root
        : name == "other"               ? other.rootItem()
        : name == "-"                   ? nullptr
                                        : find(root, name);
    if (!item && name == "n")
        item = new PropertyItem(name, 0);
    if (QByteArray(QTest::currentDataTag()).startsWith("refuse "))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^PropertyItem: "));

    if (operation == "append")
        parent->append(item);
    else if (operation == "insert")
        parent->insert(action.at(3).toInt(), item);
    else if (operation == "modelappend")
        model.append(item);
    else if (operation == "delete")
        delete item;
    else if (operation == "remove")
        parent->remove(item);

    QTEST(log, "log");
    QVERIFY2(recorder.problems.isEmpty(), qPrintable(recorder.problems.join('\n')));
    QTEST(shape(root), "after");
    QSet<const PropertyItem *> seen;
    QCOMPARE(inconsistency(root, seen), QString());
    QCOMPARE(changed.count(), 0);
    QVERIFY(other.rootItem()->model() == &other && !other.rootItem()->parent());

    if (operation == "remove" && !log.isEmpty()) {
        // The removed subtree is free and belongs to the caller.
        QVERIFY(!item->parent() && !item->model());
        QVERIFY(!item->children().constFirst()->model());
        delete item;
    }
}

void tst_PropertyItem::moveAcrossModels()
{
    QStringList log;
    PropertyItemModel first, second;
    Recorder firstRecorder(&first, &log, QStringLiteral("1 "));
    Recorder secondRecorder(&second, &log, QStringLiteral("2 "));
    build(first.rootItem(), QStringLiteral("x(x1(x11)),y"));
    build(second.rootItem(), QStringLiteral("z"));
    PropertyItem *x = find(first.rootItem(), QStringLiteral("x"));
    log.clear();

    second.append(x);
    QCOMPARE(log.join("; "),
             "1 remove? root 0 x; 1 remove! root 0; 2 insert? root 1; "
             "2 insert! root 1 x");
    QCOMPARE(find(x, QStringLiteral("x11"))->model(), &second);
    QCOMPARE(shape(first.rootItem()), QStringLiteral("y"));
    log.clear();

    find(first.rootItem(), QStringLiteral("y"))->insert(0, find(x, QStringLiteral("x1")));
    QCOMPARE(log.join("; "), "2 remove? x 0 x1; 2 remove! x 0; 1 insert? y 0; 1 insert! y 0 x1");
    QCOMPARE(find(first.rootItem(), QStringLiteral("x11"))->model(), &first);
    QCOMPARE(shape(second.rootItem()), QStringLiteral("z,x"));
    QVERIFY(firstRecorder.problems.isEmpty() && secondRecorder.problems.isEmpty());
}

void tst_PropertyItem::resetReachesEveryItem()
{
    QStringList log;
    PropertyItemModel model;
    Recorder recorder(&model, &log);
    build(model.rootItem(), initialTree, &log);
    PropertyItem *a2 = find(model.rootItem(), QStringLiteral("a2"));
    a2->setValue(7, false);
    log.clear();

    model.revert();
    QCOMPARE(log,
             QStringList({"reset a", "reset a1", "reset a11", "reset a2", "reset b", "reset b1",
                          "reset c"}));
    // The base reset leaves the items' own data alone.
    QCOMPARE(a2->value(), QVariant(7));
}

void tst_PropertyItem::destruction()
{
    QStringList log;
    auto *model = new PropertyItemModel;
    build(model->rootItem(), initialTree, &log);
    QSignalSpy aboutToRemove(model, &QAbstractItemModel::rowsAboutToBeRemoved);

    PropertyItem *a = find(model->rootItem(), QStringLiteral("a"));
    model->rootItem()->remove(a);
    delete a;
    QCOMPARE(log, QStringList({"~a", "~a1", "~a11", "~a2"}));
    QCOMPARE(aboutToRemove.count(), 1);
    log.clear();

    delete model;
    QCOMPARE(log, QStringList({"~b", "~b1", "~c"}));
    QCOMPARE(aboutToRemove.count(), 1);
}

void tst_PropertyItem::copies()
{
    QStringList log;
    PropertyItemModel model;
    build(model.rootItem(), initialTree, &log);
    PropertyItem *a = find(model.rootItem(), QStringLiteral("a"));
    a->setData(QStringLiteral("tip"), Qt::ToolTipRole);
    a->setEditable(false);

    {
        const PropertyItem copy(*a);
        QCOMPARE(copy.name(), QStringLiteral("a"));
        QCOMPARE(copy.data(Qt::ToolTipRole), QVariant("tip"));
        QCOMPARE(copy.flags(), a->flags());
        QVERIFY(!copy.parent() && !copy.model() && copy.children().isEmpty());
    }
    QVERIFY(log.isEmpty()); // the copy deleted none of a's children

    PropertyItem *c = find(model.rootItem(), QStringLiteral("c"));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    *c = *a;
    QCOMPARE(c->name(), QStringLiteral("a"));
    QCOMPARE(c->data(Qt::ToolTipRole), QVariant("tip"));
    QVERIFY(c->parent() == model.rootItem() && c->children().isEmpty());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>(), c->valueIndex());
    QCOMPARE(shape(model.rootItem()), QStringLiteral("a(a1(a11),a2),b(b1),a"));
}

void tst_PropertyItem::indexScheme()
{
    PropertyItemModel model;
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 2);
    QVERIFY(!model.index(0, 0).isValid());
    QCOMPARE(model.itemFromIndex(QModelIndex()), model.rootItem());
    QCOMPARE(model.rootItem()->model(), &model);
    QVERIFY(!model.rootItem()->index().isValid() && !model.nameIndexFromItem(nullptr).isValid());

    build(model.rootItem(), initialTree);
    PropertyItem *a1 = find(model.rootItem(), QStringLiteral("a1"));
    const QModelIndex a = model.index(0, 0);
    for (const auto &[row, column] : {std::pair(0, 2), {-1, 0}, {0, -1}, {2, 0}})
        QVERIFY(!model.index(row, column, a).isValid());
    QCOMPARE(model.index(0, 0, a), a1->index());
    QCOMPARE(model.index(0, 1, a), a1->valueIndex());
    QVERIFY(!model.parent(a).isValid());
    const QModelIndex a11Value = find(a1, QStringLiteral("a11"))->valueIndex();
    QCOMPARE(model.parent(a11Value), a1->index());

    // Only name cells have children.
    QCOMPARE(model.rowCount(a1->index()), 1);
    QCOMPARE(model.rowCount(a1->valueIndex()), 0);
    QVERIFY(!model.hasChildren(a1->valueIndex()));
    QVERIFY(!model.index(0, 0, a1->valueIndex()).isValid());
}

void tst_PropertyItem::modelData()
{
    PropertyItemModel model;
    auto *item = new PropertyItem(QStringLiteral("speed"), 12);
    item->setData(QStringLiteral("tip"), Qt::ToolTipRole);
    model.append(item);
    const QModelIndex name = item->index(), value = item->valueIndex();

    for (const int role : {Qt::DisplayRole, Qt::EditRole}) {
        QCOMPARE(model.data(name, role), QVariant("speed"));
        QCOMPARE(model.data(value, role), QVariant(12));
    }
    QCOMPARE(model.data(name, Qt::ToolTipRole), QVariant("tip"));
    QCOMPARE(model.data(value, Qt::ToolTipRole), QVariant("tip"));
    QVERIFY(!model.data(value, Qt::DecorationRole).isValid());
    QVERIFY(!model.data(QModelIndex(), Qt::DisplayRole).isValid());
}

void tst_PropertyItem::modelSetData()
{
    QStringList log;
    PropertyItemModel model;
    Recorder recorder(&model, &log);
    build(model.rootItem(), QStringLiteral("p(x)"), &log);
    PropertyItem *x = find(model.rootItem(), QStringLiteral("x"));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    log.clear();

    QVERIFY(!model.setData(x->index(), QStringLiteral("renamed")));
    QVERIFY(!model.setData(QModelIndex(), 1));
    QCOMPARE(x->name(), QStringLiteral("x"));
    QVERIFY(model.setData(x->valueIndex(), 9, Qt::EditRole));
    QCOMPARE(x->value(), QVariant(9));
    QVERIFY(model.setData(x->valueIndex(), 9)); // unchanged, still accepted
    QCOMPARE(changed.count(), 1);
    QCOMPARE(log, QStringList{"p <- x"});
}

void tst_PropertyItem::modelFlagsAndBuddy()
{
    PropertyItemModel model;
    build(model.rootItem(), QStringLiteral("p(x)"));
    PropertyItem *x = find(model.rootItem(), QStringLiteral("x"));
    const Qt::ItemFlags selectableEnabled = Qt::ItemIsSelectable | Qt::ItemIsEnabled;

    QCOMPARE(model.flags(QModelIndex()), Qt::NoItemFlags);
    QCOMPARE(model.flags(x->index()), selectableEnabled);
    QCOMPARE(model.flags(x->valueIndex()), selectableEnabled | Qt::ItemIsEditable);
    x->setEditable(false);
    QCOMPARE(model.flags(x->valueIndex()), selectableEnabled);

    QCOMPARE(model.buddy(x->index()), x->valueIndex());
    QCOMPARE(model.buddy(x->valueIndex()), x->valueIndex());
    QCOMPARE(model.buddy(QModelIndex()), QModelIndex());
}

// Translates only the model's own context, so a wrong context shows.
class HeaderTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "PropertyItemModel") != 0)
            return QString();
        return QString::fromUtf8(sourceText) == QString::fromUtf8("名称") ? QStringLiteral("Name")
                                                                          : QStringLiteral("Value");
    }
    bool isEmpty() const override { return false; }
};

void tst_PropertyItem::headers()
{
    PropertyItemModel model;
    QCOMPARE(model.headerData(0, Qt::Horizontal), QVariant(QString::fromUtf8("名称")));
    QCOMPARE(model.headerData(1, Qt::Horizontal), QVariant(QString::fromUtf8("值")));
    QCOMPARE(model.headerData(5, Qt::Horizontal), QVariant(QString::fromUtf8("值")));
    QCOMPARE(model.headerData(2, Qt::Vertical), QVariant(3));
    QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());

    HeaderTranslator translator;
    QCoreApplication::installTranslator(&translator);
    QCOMPARE(model.headerData(0, Qt::Horizontal), QVariant("Name"));
    QCOMPARE(model.headerData(1, Qt::Horizontal), QVariant("Value"));
    QCoreApplication::removeTranslator(&translator);
}

QTEST_GUILESS_MAIN(tst_PropertyItem)
#include "tst_propertyitem.moc"
