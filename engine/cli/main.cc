// Process entry of dictacore.
int main() { return 0; }
