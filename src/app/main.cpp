// Entry point; replaced by the command-line work.
int main() { return 0; }
