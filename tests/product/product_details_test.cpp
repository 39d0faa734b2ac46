// Details recorded on product waypoints: the calls into the analytics library, case folding, the
// extra-data log line and what a refusal leaves behind.
#include "support.h"

namespace {

std::string ProductOf(const std::vector<std::string>& delivered, const std::string& name) {
    std::string prefix = "reached wp.product s.productlist{a.product.name=" + name;
    for (const std::string& line : delivered)
        if (line.rfind(prefix + "}", 0) == 0 || line.rfind(prefix + ",", 0) == 0) return line;
    return "";
}

}  // namespace

class ProductDetails : public TevTest {
protected:
    void SetUp() override {
        TevTest::SetUp();
        ASSERT_TRUE(TEVUtil::InitML(true));
        firstId_ = testing_support::NextId(NewTrace());
    }

    // The trace since the last call, its ids counted from the first object after the start-up's.
    std::vector<std::string> NewTraceRelative() {
        return testing_support::RelativeIds(NewTrace(), firstId_);
    }

    int firstId_ = 0;
};

TEST_F(ProductDetails, FirstMentionMakesTheProductWaypointThenAddsTheStateBeforeItsAttributes) {
    EXPECT_TRUE(TEVUtil::AddContent(T("ProductA"), T("core"), T("C:\\core.msi")));
    EXPECT_EQ(
        NewTraceRelative(),
        (std::vector<std::string>{
            R"({"op":"create","kind":"waypoint","name":"wp.product","id":#0})",
            R"({"op":"create","kind":"state","name":"s.productlist","id":#1})",
            R"({"op":"create","kind":"attribute","name":"a.product.name","value":"producta","id":#2})",
            R"({"op":"add","parent":#1,"child":#2})", R"({"op":"add","parent":#0,"child":#1})",
            R"({"op":"create","kind":"state","name":"s.product.content","id":#3})",
            R"({"op":"add","parent":#0,"child":#3})",
            R"({"op":"create","kind":"attribute","name":"a.product.contentname","value":"core","id":#4})",
            R"({"op":"add","parent":#3,"child":#4})",
            R"({"op":"create","kind":"attribute","name":"a.product.contentpath","value":"C:\\core.msi","id":#5})",
            R"({"op":"add","parent":#3,"child":#5})"}));

    EXPECT_TRUE(TEVUtil::AddContent(T("productA"), T("extra"), T("")));
    EXPECT_EQ(
        NewTraceRelative(),
        (std::vector<std::string>{
            R"({"op":"create","kind":"state","name":"s.product.content","id":#6})",
            R"({"op":"add","parent":#0,"child":#6})",
            R"({"op":"create","kind":"attribute","name":"a.product.contentname","value":"extra","id":#7})",
            R"({"op":"add","parent":#6,"child":#7})",
            R"({"op":"create","kind":"attribute","name":"a.product.contentpath","value":"","id":#8})",
            R"({"op":"add","parent":#6,"child":#8})"}));
}

TEST_F(ProductDetails, ExtraDataAsFirstMentionRecordsOnTheStateTheWaypointGives) {
    EXPECT_TRUE(TEVUtil::AddNRData(T("ProductA"), T("k"), T("v")));
    EXPECT_EQ(testing_support::RelativeIds(NewTraceOf({"get_state", "add"}), firstId_),
              (std::vector<std::string>{R"({"op":"add","parent":#1,"child":#2})",
                                        R"({"op":"add","parent":#0,"child":#1})",
                                        R"({"op":"get_state","waypoint":#0,"id":#1})",
                                        R"({"op":"add","parent":#1,"child":#3})"}));
    EXPECT_EQ(LogFields().back(), "PRODUCTNRDATA;ProductA;k;v;");
}

TEST_F(ProductDetails, NoProductWaypointMeansFalseAndNothingLogged) {
    kv8::RefuseCreate(kv8::Kind::Waypoint, T("wp.product"), 2);
    EXPECT_FALSE(TEVUtil::AddLang(T("p"), T("en"), 0));
    EXPECT_FALSE(TEVUtil::AddNRData(T("p"), T("k"), 1));
    EXPECT_EQ(LogFields().size(), 2u);
    TEVUtil::ShutdownML();
    EXPECT_EQ(ProductOf(Delivered(), "p"), "");
    ExpectCleanLedger();
}

TEST_F(ProductDetails, ARefusedStateMeansFalseButTheNewProductIsStillSent) {
    kv8::RefuseCreate(kv8::Kind::State, T("s.product.feature"));
    EXPECT_FALSE(TEVUtil::AddFeature(T("p"), T("f"), 1));
    kv8::RefuseGetState();
    EXPECT_FALSE(TEVUtil::AddNRData(T("p"), T("k"), T("v")));
    EXPECT_EQ(LogFields().size(), 2u);  // no PRODUCTNRDATA line
    TEVUtil::ShutdownML();
    EXPECT_EQ(ProductOf(Delivered(), "p"), "reached wp.product s.productlist{a.product.name=p}");
    ExpectCleanLedger();
}

TEST_F(ProductDetails, ARefusedAttributeIsMissingWhileTheStateStaysAndTheCallSucceeds) {
    kv8::RefuseCreate(kv8::Kind::Attribute, T("a.product.contentname"));
    EXPECT_TRUE(TEVUtil::AddContent(T("p"), T("c"), T("path")));
    kv8::RefuseCreate(kv8::Kind::Attribute, T("a.product.featureaction"));
    EXPECT_TRUE(TEVUtil::AddFeature(T("p"), T("f"), 3));
    kv8::RefuseCreate(kv8::Kind::Attribute, T("k"));
    EXPECT_TRUE(TEVUtil::AddNRData(T("p"), T("k"), T("v")));
    EXPECT_EQ(LogFields().back(), "PRODUCTNRDATA;p;k;v;");
    TEVUtil::ShutdownML();
    EXPECT_EQ(ProductOf(Delivered(), "p"),
              "reached wp.product s.productlist{a.product.name=p} "
              "s.product.content{a.product.contentpath=path} "
              "s.product.feature{a.product.featurename=f}");
    ExpectCleanLedger();
}
