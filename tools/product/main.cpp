#include <string>
#include <vector>

#include "tools/product/CProductApplication.h"

int main(int argc, char** argv) {
    return Zun::Tools::Product::CProductApplication().Run(std::vector<std::string>(argv + 1, argv + argc));
}
